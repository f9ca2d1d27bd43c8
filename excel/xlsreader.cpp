#include "excel/celltext.h"
#include "excel/compoundfile.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "link/error.h"
#include "link/windows1251.h"

#include <QHash>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <freexl.h>
#include <vector>

namespace WorkbookReader {
namespace {

// What libfreexl does not give: the active tab (WINDOW1), the cached results
// of formula cells (FORMULA and STRING records), and the sheet dimensions that
// let us refuse a file before libfreexl allocates a cell table for it.
class BiffScan
{
public:
    explicit BiffScan(const QByteArray& stream) : m_stream(stream) {}

    void globals();
    void sheet(SheetCells& cells, quint32 offset);
    std::int64_t dimensions(quint32 offset) const;
    void checkForFreexl() const;
    void checkSharedStrings(const std::vector<QByteArray>& records) const;

    struct Sheet
    {
        quint32 offset;
        int type;
        QString name;
    };
    std::vector<Sheet> sheets;
    int activeTab = 0;
    bool password = false;
    bool date1904 = false;
    bool biff8 = true;
    int codePage = 0; // of BIFF5 strings; BIFF8 strings carry their own encoding

private:
    struct Record
    {
        quint16 type;
        QByteArray data;
    };
    bool record(quint32& at, Record& out) const;
    bool dateStyle(int xf) const;
    bool freexlCountsDays(int xf) const;
    QString xlString(const QByteArray& data, qsizetype at, bool wideLength) const;

    QByteArray m_stream;
    std::vector<int> m_xfFormats;
    QHash<int, bool> m_dateFormats;
    QHash<int, bool> m_freexlDayFormats; // custom formats libfreexl takes for a date
};

bool BiffScan::record(quint32& at, Record& out) const
{
    if (static_cast<qint64>(at) + 4 > m_stream.size())
        return false;
    out.type = qFromLittleEndian<quint16>(m_stream.constData() + at);
    const quint16 length = qFromLittleEndian<quint16>(m_stream.constData() + at + 2);
    if (static_cast<qint64>(at) + 4 + length > m_stream.size())
        return false;
    out.data = QByteArray::fromRawData(m_stream.constData() + at + 4, length);
    at += 4 + length;
    return true;
}

char byteAt(const QByteArray& data, qsizetype at)
{
    return at >= 0 && at < data.size() ? data.at(at) : '\0';
}

quint16 u16(const QByteArray& data, qsizetype at)
{
    return at + 2 <= data.size() ? qFromLittleEndian<quint16>(data.constData() + at) : 0;
}

quint32 u32(const QByteArray& data, qsizetype at)
{
    return at + 4 <= data.size() ? qFromLittleEndian<quint32>(data.constData() + at) : 0;
}

// An RK number: a 30-bit integer or the high bits of a double, either possibly hundredths.
double rkValue(quint32 rk)
{
    double value = 0;
    if (rk & 0x02) {
        value = static_cast<double>(static_cast<qint32>(rk) >> 2);
    } else {
        const quint64 bits = static_cast<quint64>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100.0 : value;
}

// A BIFF8 string: length, flags, then Latin-1 or UTF-16LE characters. BIFF5
// strings are single bytes in the workbook's code page: Windows-1251 is decoded
// as such, any other as Latin-1, which keeps ASCII names comparable with the
// names libfreexl reports.
QString BiffScan::xlString(const QByteArray& data, qsizetype at, bool wideLength) const
{
    const int count = wideLength ? u16(data, at) : static_cast<unsigned char>(byteAt(data, at));
    at += wideLength ? 2 : 1;
    if (!biff8) {
        const QByteArray bytes = data.mid(at, count);
        return codePage == 1251 ? Windows1251::decode(bytes) : QString::fromLatin1(bytes);
    }
    const char flags = byteAt(data, at++);
    if (flags & 0x08)
        at += 2; // rich text run count
    if (flags & 0x04)
        at += 4; // phonetic data size
    if (flags & 0x01) {
        const QByteArray chars = data.mid(at, count * 2);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(chars.constData()), chars.size() / 2);
    }
    return QString::fromLatin1(data.mid(at, count));
}

void BiffScan::globals()
{
    quint32 at = 0;
    Record r;
    bool windowSeen = false;
    while (record(at, r)) {
        switch (r.type) {
        case 0x0809: // BOF
            biff8 = u16(r.data, 0) == 0x0600;
            break;
        case 0x002F: // FILEPASS
            password = true;
            return;
        case 0x003D: // WINDOW1
            if (!windowSeen)
                activeTab = u16(r.data, 10); // itabCur
            windowSeen = true;
            break;
        case 0x0042: // CODEPAGE
            codePage = u16(r.data, 0);
            break;
        case 0x0022: // DATEMODE
            date1904 = u16(r.data, 0) == 1;
            break;
        case 0x0085: // BOUNDSHEET
            if (static_cast<std::int64_t>(sheets.size()) < WorkbookLimits::MaxZipEntries)
                sheets.push_back({u32(r.data, 0), static_cast<unsigned char>(byteAt(r.data, 5)), xlString(r.data, 6, false)});
            break;
        case 0x041E: { // FORMAT
            const QString code = xlString(r.data, 2, biff8);
            m_dateFormats.insert(u16(r.data, 0), isDateFormatCode(code));
            // libfreexl's own test: letters y and m, or m and d, anywhere in the code.
            const QString lower = code.toLower();
            const bool y = lower.contains(u'y'), m = lower.contains(u'm'), d = lower.contains(u'd');
            m_freexlDayFormats.insert(u16(r.data, 0), (y && m) || (m && d));
            break;
        }
        case 0x00E0: // XF
            if (m_xfFormats.size() < 65536)
                m_xfFormats.push_back(u16(r.data, 2));
            break;
        case 0x000A: // EOF of the globals
            return;
        default:
            break;
        }
    }
}

bool BiffScan::dateStyle(int xf) const
{
    if (xf < 0 || static_cast<std::size_t>(xf) >= m_xfFormats.size())
        return false;
    const int format = m_xfFormats[xf];
    return m_dateFormats.contains(format) ? m_dateFormats.value(format) : isBuiltinDateFormat(format);
}

bool BiffScan::freexlCountsDays(int xf) const
{
    if (xf < 0 || static_cast<std::size_t>(xf) >= m_xfFormats.size())
        return false;
    const int format = m_xfFormats[xf];
    return (format >= 14 && format <= 17) || format == 22 || m_freexlDayFormats.value(format);
}

// libfreexl trusts the stream: a cell written twice or a second DIMENSIONS
// record leaks what it had stored, a text longer than its record is read past
// the record, and a date is found by counting days one by one from 1900. So the
// stream is read here first, as libfreexl will read it, and refused when it
// holds any of these.
void BiffScan::checkForFreexl() const
{
    const auto corruptRecord = [](const char* what) {
        throw Failure(QStringLiteral("файл повреждён (%1)").arg(QString::fromUtf8(what)));
    };
    std::vector<quint32> seen; // row << 16 | column of the cells of the current substream
    bool dimensionsSeen = false;
    bool betweenSubstreams = true;
    bool inSheet = false; // the substream is a sheet's that BOUNDSHEET points at
    quint32 rows = 0;
    quint32 columns = 0;
    quint32 substream = 0;
    std::vector<quint32> dimensioned; // where the substreams with a DIMENSIONS record start
    auto cellAt = [&](quint32 row, quint32 column) {
        seen.push_back(row << 16 | column);
    };
    auto checkDays = [&](int xf, double value) {
        if (freexlCountsDays(xf) && std::floor(value) >= 2958466.0 && std::floor(value) <= 2147483647.0)
            corruptRecord("дата позже 9999 года");
    };
    auto checkSubstream = [&] {
        std::sort(seen.begin(), seen.end());
        if (std::adjacent_find(seen.begin(), seen.end()) != seen.end())
            corruptRecord("ячейка записана дважды");
        seen.clear();
    };
    std::vector<QByteArray> sst; // the SST record and the CONTINUE records after it
    quint32 at = 0;
    Record r;
    while (static_cast<qint64>(at) + 4 <= m_stream.size()) {
        if (!sst.empty() && qFromLittleEndian<quint16>(m_stream.constData() + at) != 0x003C) {
            checkSharedStrings(sst);
            sst.clear();
        }
        const quint16 length = qFromLittleEndian<quint16>(m_stream.constData() + at + 2);
        const quint32 start = at;
        // (libfreexl ends a normal stream at an empty record of type 0, but not a mini
        // stream; reading on is the stricter of the two.)
        if (length > 8224 || !record(at, r))
            break; // where libfreexl stops reading
        const QByteArray& d = r.data;
        const qsizetype size = d.size();
        if (betweenSubstreams) {
            if (r.type != 0x0809)
                break; // libfreexl refuses the file here
            betweenSubstreams = false;
            dimensionsSeen = false;
            substream = start;
            inSheet = std::any_of(sheets.begin(), sheets.end(), [&](const Sheet& sheet) { return sheet.offset == start; });
            continue;
        }
        switch (r.type) {
        case 0x00FC: // SST
            sst.push_back(d);
            break;
        case 0x003C: // CONTINUE
            if (!sst.empty())
                sst.push_back(d);
            break;
        case 0x000A: // EOF
            checkSubstream();
            betweenSubstreams = true;
            break;
        case 0x0200: // DIMENSIONS
            if (dimensionsSeen)
                corruptRecord("лишняя запись размеров листа");
            dimensionsSeen = true;
            dimensioned.push_back(substream);
            rows = biff8 ? u32(d, 4) : u16(d, 2);
            columns = biff8 ? u16(d, 10) : u16(d, 6);
            break;
        case 0x041E: { // FORMAT
            const qsizetype count = biff8 ? u16(d, 2) : static_cast<unsigned char>(byteAt(d, 2));
            const qsizetype begin = biff8 ? 5 : 3;
            const bool wide = biff8 && (byteAt(d, 4) & 0x01);
            if (size < begin || begin + count * (wide ? 2 : 1) > size)
                corruptRecord("строка формата длиннее записи");
            break;
        }
        case 0x0203: // NUMBER
            if (size < 14)
                corruptRecord("короткая запись ячейки");
            cellAt(u16(d, 0), u16(d, 2));
            checkDays(u16(d, 4), qFromLittleEndian<double>(d.constData() + 6));
            break;
        case 0x027E: // RK
            if (size < 10)
                corruptRecord("короткая запись ячейки");
            cellAt(u16(d, 0), u16(d, 2));
            checkDays(u16(d, 4), rkValue(u32(d, 6)));
            break;
        case 0x00BD: { // MULRK: libfreexl takes 6-byte entries while one more byte follows
            if (size < 6)
                corruptRecord("короткая запись ячейки");
            quint32 column = u16(d, 2);
            for (qsizetype off = 4; off + 6 < size; off += 6, ++column) {
                cellAt(u16(d, 0), column & 0xFFFF);
                checkDays(u16(d, off), rkValue(u32(d, off + 2)));
            }
            break;
        }
        case 0x00FD: // LABELSST
        case 0x0205: // BOOLERR
            if (size < (r.type == 0x00FD ? 10 : 8))
                corruptRecord("короткая запись ячейки");
            cellAt(u16(d, 0), u16(d, 2));
            break;
        case 0x0204: { // LABEL
            const qsizetype count = u16(d, 6);
            const qsizetype begin = biff8 ? 9 : 8;
            const bool wide = biff8 && (byteAt(d, 8) & 0x01);
            if (size < begin || begin + count * (wide ? 2 : 1) > size)
                corruptRecord("текст ячейки длиннее записи");
            // libfreexl converts the text before it finds the cell has no place, and leaks it.
            if (!inSheet || !dimensionsSeen || u16(d, 0) >= rows || u16(d, 2) >= columns)
                corruptRecord("текст ячейки вне размеров листа");
            cellAt(u16(d, 0), u16(d, 2));
            break;
        }
        default:
            break;
        }
    }
    if (!sst.empty())
        checkSharedStrings(sst);
    checkSubstream();
    // For a sheet without one, libfreexl sizes the cell table of whichever sheet it read
    // last anew: that sheet's cells are lost (and leaked), and it reads as empty.
    for (const Sheet& sheet : sheets) {
        if (std::find(dimensioned.begin(), dimensioned.end(), sheet.offset) == dimensioned.end())
            throw Failure(QStringLiteral("файл повреждён (у листа «%1» нет записи размеров)").arg(sheet.name));
    }
}

// The shared strings as Excel lays them out: a string's header within one
// record, its characters split at most once into the next record (which then
// starts with a new flags byte), its formatting runs and extension after it.
// libfreexl copies a split string's rest without checking that it fits.
void BiffScan::checkSharedStrings(const std::vector<QByteArray>& records) const
{
    const auto refuse = [] { throw Failure(QStringLiteral("файл повреждён (таблица строк не по формату)")); };
    std::size_t k = 0;
    qsizetype pos = 8;
    const quint32 count = u32(records[0], 4);
    for (quint32 i = 0; i < count; ++i) {
        if (pos >= records[k].size()) {
            if (++k == records.size())
                return;
            pos = 0;
        }
        const QByteArray& record = records[k];
        if (pos + 3 > record.size())
            refuse();
        qsizetype remaining = u16(record, pos);
        const char flags = record.at(pos + 2);
        pos += 3;
        qsizetype skip = 0;
        if (flags & 0x08) {
            skip += 4 * qsizetype(u16(record, pos));
            pos += 2;
        }
        if (flags & 0x04) {
            skip += u32(record, pos);
            pos += 4;
        }
        if (pos > record.size())
            refuse();
        const qsizetype width = (flags & 0x01) ? 2 : 1;
        const qsizetype fits = std::min(remaining, (record.size() - pos) / width);
        pos += fits * width;
        remaining -= fits;
        bool split = false;
        if (remaining > 0) {
            if (pos != record.size() || ++k == records.size())
                refuse();
            const QByteArray& next = records[k];
            const qsizetype nextWidth = (byteAt(next, 0) & 0x01) ? 2 : 1;
            if (1 + remaining * nextWidth > next.size())
                refuse();
            pos = 1 + remaining * nextWidth;
            split = true;
        }
        pos += skip;
        if (pos > records[k].size()) {
            // Formatting runs that go on into the next record: libfreexl follows them
            // only after a string that was not split, and not to that record's end.
            const qsizetype over = pos - records[k].size();
            if (split || k + 1 == records.size() || over >= records[k + 1].size())
                refuse();
            ++k;
            pos = over;
        }
    }
}

std::int64_t BiffScan::dimensions(quint32 offset) const
{
    quint32 at = offset;
    Record r;
    while (record(at, r) && r.type != 0x000A) {
        if (r.type == 0x0200) {
            if (biff8)
                return static_cast<std::int64_t>(u32(r.data, 4)) * u16(r.data, 10);
            return static_cast<std::int64_t>(u16(r.data, 2)) * u16(r.data, 6);
        }
    }
    return 0;
}

QString errorCode(int code)
{
    switch (code) {
    case 0x00: return QStringLiteral("#NULL!");
    case 0x07: return QStringLiteral("#DIV/0!");
    case 0x0F: return QStringLiteral("#VALUE!");
    case 0x17: return QStringLiteral("#REF!");
    case 0x1D: return QStringLiteral("#NAME?");
    case 0x24: return QStringLiteral("#NUM!");
    default: return QStringLiteral("#N/A");
    }
}

void BiffScan::sheet(SheetCells& cells, quint32 offset)
{
    quint32 at = offset;
    Record r;
    std::int64_t stringRow = 0;
    int stringColumn = 0;
    while (record(at, r) && r.type != 0x000A) {
        const std::int64_t row = u16(r.data, 0) + 1;
        const int column = u16(r.data, 2) + 1;
        const bool wanted = column <= WorkbookLimits::Columns && r.data.size() >= 6;
        if (r.type == 0x0006 && stringRow) { // the text formula before it got no STRING record
            cells.addFormulaWithoutValue(stringRow, stringColumn);
            stringRow = 0;
        }
        if (r.type == 0x0006 && wanted && r.data.size() >= 14) { // FORMULA with its cached result
            const bool special = static_cast<unsigned char>(r.data[12]) == 0xFF && static_cast<unsigned char>(r.data[13]) == 0xFF;
            const int kind = static_cast<unsigned char>(r.data[6]);
            if (!special) {
                const double value = qFromLittleEndian<double>(r.data.constData() + 6);
                cells.addNumber(row, column, value, dateStyle(u16(r.data, 4)) ? CellKind::DateTime : CellKind::Number);
            } else if (kind == 0) {
                stringRow = row; // the text follows in a STRING record
                stringColumn = column;
            } else if (kind == 1) {
                cells.addNumber(row, column, r.data[8] ? 1.0 : 0.0, CellKind::Boolean);
            } else if (kind == 2) {
                cells.addError(row, column, errorCode(static_cast<unsigned char>(r.data[8])));
            } else {
                // Kind 3, an empty text, is also what scripts (xlwt) store for a
                // formula they never computed; a card must not get it as a value.
                cells.addFormulaWithoutValue(row, column);
            }
        } else if (r.type == 0x0207 && stringRow) { // STRING: the text result of the formula before it
            cells.addText(stringRow, stringColumn, xlString(r.data, 0, true));
            stringRow = 0;
        } else if (r.type == 0x0205 && wanted && r.data.size() >= 8) { // BOOLERR
            if (r.data[7])
                cells.addError(row, column, errorCode(static_cast<unsigned char>(r.data[6])));
            else
                cells.addNumber(row, column, r.data[6] ? 1.0 : 0.0, CellKind::Boolean);
        }
    }
    if (stringRow)
        cells.addFormulaWithoutValue(stringRow, stringColumn);
}

// Closes the libfreexl handle on every way out.
class FreexlHandle
{
public:
    ~FreexlHandle()
    {
        if (handle)
            freexl_close(handle);
    }
    const void* handle = nullptr;
};

void readFreexlCells(const QString& path, const QString& sheetName, bool firstSheet, SheetCells& cells)
{
    FreexlHandle xls;
    const int opened = freexl_open(path.toLocal8Bit().constData(), &xls.handle);
    if (opened != FREEXL_OK)
        throw Failure(opened == FREEXL_INSUFFICIENT_MEMORY ? QStringLiteral("не хватает памяти")
                                                           : QStringLiteral("файл повреждён (libfreexl: код %1)").arg(opened));
    unsigned int info = 0;
    if (freexl_get_info(xls.handle, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK && info == FREEXL_BIFF_OBFUSCATED)
        throw Failure(QStringLiteral("книга защищена паролем"));
    unsigned int count = 0;
    freexl_get_info(xls.handle, FREEXL_BIFF_SHEET_COUNT, &count);
    int index = firstSheet ? 0 : -1;
    for (unsigned short i = 0; i < count; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(xls.handle, i, &name) == FREEXL_OK && name && QString::fromUtf8(name) == sheetName)
            index = i;
    }
    // Reading another sheet than the one whose formula results were taken would mix two sheets.
    if (index < 0)
        throw Failure(QStringLiteral("не удалось найти активный лист «%1» (кодировка имён листов не распознана)").arg(sheetName));
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (count == 0 || freexl_select_active_worksheet(xls.handle, static_cast<unsigned short>(index)) != FREEXL_OK
        || freexl_worksheet_dimensions(xls.handle, &rows, &columns) != FREEXL_OK)
        throw Failure(QStringLiteral("в книге нет листов"));
    rows = std::min<unsigned int>(rows, XlsRows);
    columns = std::min<unsigned short>(columns, WorkbookLimits::Columns);
    for (unsigned int r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue value;
            if (freexl_get_cell_value(xls.handle, r, c, &value) != FREEXL_OK)
                continue;
            switch (value.type) {
            case FREEXL_CELL_INT:
                cells.addNumber(r + 1, c + 1, value.value.int_value);
                break;
            case FREEXL_CELL_DOUBLE:
                cells.addNumber(r + 1, c + 1, value.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
                cells.addText(r + 1, c + 1, QString::fromUtf8(value.value.text_value));
                break;
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                cells.addText(r + 1, c + 1, CellText::isoDateTime(QString::fromUtf8(value.value.text_value)));
                break;
            default:
                break;
            }
        }
    }
}

} // namespace

SheetCells readXls(const QByteArray& bytes, const QString& path)
{
    const CompoundFile file(bytes);
    if (file.hasStream(QStringLiteral("EncryptedPackage")))
        throw Failure(QStringLiteral("книга защищена паролем"));
    QByteArray stream = file.stream(QStringLiteral("Workbook"));
    if (stream.isEmpty())
        stream = file.stream(QStringLiteral("Book"));
    if (stream.isEmpty())
        throw Failure(QStringLiteral("неизвестный формат файла (составной файл без книги Excel)"));
    BiffScan scan(stream);
    scan.globals();
    if (scan.password)
        throw Failure(QStringLiteral("книга защищена паролем"));
    if (scan.sheets.empty())
        throw Failure(QStringLiteral("в книге нет листов"));
    scan.checkForFreexl();
    for (const BiffScan::Sheet& sheet : scan.sheets) {
        if (sheet.type == 0 && scan.dimensions(sheet.offset) > WorkbookLimits::MaxCells)
            throw Failure(QStringLiteral("книга слишком велика (лист «%1» более %2 ячеек)").arg(sheet.name).arg(WorkbookLimits::MaxCells));
    }
    const int tab = scan.activeTab < static_cast<int>(scan.sheets.size()) ? scan.activeTab : 0;
    const BiffScan::Sheet& active = scan.sheets[tab];
    SheetCells cells(XlsRows);
    cells.setSheetName(active.name);
    cells.setDate1904(scan.date1904);
    // Formula results first: where libfreexl also reports such a cell, the first one stays.
    scan.sheet(cells, active.offset);
    readFreexlCells(path, active.name, tab == 0, cells);
    cells.finish();
    return cells;
}

} // namespace WorkbookReader
