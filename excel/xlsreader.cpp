#include "base/error.h"
#include "excel/biffstream.h"
#include "excel/celltext.h"
#include "excel/compoundfile.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"

#include <QHash>
#include <vector>

namespace WorkbookReader {
namespace {

using Biff::Record;
using Biff::u16;
using Biff::u32;
using Biff::u8;

enum : quint16 {
    Bof = 0x0809,
    Eof = 0x000A,
    Continue = 0x003C,
    FilePass = 0x002F,
    Window1 = 0x003D,
    CodePage = 0x0042,
    DateMode = 0x0022,
    BoundSheet = 0x0085,
    Format = 0x041E,
    Xf = 0x00E0,
    Sst = 0x00FC,
    WriteAccess = 0x005C,
    Number = 0x0203,
    Rk = 0x027E,
    MulRk = 0x00BD,
    LabelSst = 0x00FD,
    Label = 0x0204,
    RString = 0x00D6,
    BoolErr = 0x0205,
    FormulaRecord = 0x0006,
    StringRecord = 0x0207,
};

[[noreturn]] void corrupt(const QString& what)
{
    throw Failure(QStringLiteral("файл повреждён (%1)").arg(what));
}

// The shared string table: an SST record and the CONTINUE records after it,
// read as one run of bytes except where a string's characters cross into the
// next record, which then starts with a fresh flags byte (the characters
// after it may be one or two bytes wide).
class SharedStrings
{
public:
    explicit SharedStrings(std::vector<QByteArrayView> records) : m_records(std::move(records)) {}

    void read(TextPool& pool)
    {
        const quint32 count = u32(m_records.front(), 4);
        m_pos = 8;
        QString text;
        for (quint32 i = 0; i < count; ++i) {
            if (!available())
                return; // fewer strings than announced: the cells that name the rest are refused
            if (pool.size() >= WorkbookLimits::MaxSharedStrings)
                throw Failure(QStringLiteral("книга слишком велика (более %1 строк текста)")
                                  .arg(WorkbookLimits::MaxSharedStrings));
            const quint16 length = word();
            const quint8 flags = byte();
            const std::int64_t runs = (flags & 0x08) ? word() : 0;
            const std::int64_t phonetic = (flags & 0x04) ? dword() : 0;
            text.clear();
            characters(length, flags & 0x01, text);
            skip(runs * 4 + phonetic);
            pool.add(text);
        }
    }

private:
    bool available()
    {
        while (m_k < m_records.size() && m_pos >= m_records[m_k].size()) {
            ++m_k;
            m_pos = 0;
        }
        return m_k < m_records.size();
    }
    quint8 byte()
    {
        if (!available())
            corrupt(QStringLiteral("таблица строк обрывается"));
        return u8(m_records[m_k], m_pos++);
    }
    quint16 word() { return static_cast<quint16>(byte() | byte() << 8); }
    quint32 dword() { return static_cast<quint32>(word()) | static_cast<quint32>(word()) << 16; }
    void skip(std::int64_t count)
    {
        while (count > 0) {
            if (!available())
                return; // a string's trailing runs may end with the table
            const std::int64_t take = std::min<std::int64_t>(count, m_records[m_k].size() - m_pos);
            m_pos += take;
            count -= take;
        }
    }
    void characters(qsizetype count, bool wide, QString& text)
    {
        while (count > 0) {
            if (m_k >= m_records.size() || m_pos >= m_records[m_k].size()) {
                ++m_k;
                m_pos = 0;
                if (m_k >= m_records.size())
                    corrupt(QStringLiteral("таблица строк обрывается"));
                wide = u8(m_records[m_k], m_pos++) & 0x01;
            }
            const QByteArrayView record = m_records[m_k];
            const qsizetype take = std::min<qsizetype>(count, (record.size() - m_pos) / (wide ? 2 : 1));
            if (take == 0)
                corrupt(QStringLiteral("таблица строк не по формату"));
            if (wide) {
                for (qsizetype i = 0; i < take; ++i)
                    text.append(QChar(u16(record, m_pos + 2 * i)));
            } else {
                text.append(QLatin1StringView(record.data() + m_pos, take));
            }
            m_pos += take * (wide ? 2 : 1);
            count -= take;
        }
    }

    std::vector<QByteArrayView> m_records;
    std::size_t m_k = 0;
    qsizetype m_pos = 0;
};

struct SheetEntry
{
    quint32 offset;
    int type; // 0 worksheet, 1 macro sheet, 2 chart, 6 VB module
    QString name;
};

// The workbook globals: what the cells of the active sheet need.
struct Globals
{
    Biff::Text text;
    std::vector<SheetEntry> sheets;
    std::vector<CellKind> xfKinds; // how each cell style shows a number
    int activeTab = 0;
    bool date1904 = false;
    bool fromXlwt = false;
};

Globals readGlobals(QByteArrayView bytes, TextPool& pool)
{
    Globals globals;
    Biff::Stream stream(bytes);
    Record r;
    if (!stream.next(r) || r.type != Bof)
        corrupt(QStringLiteral("поток книги не начинается с записи BOF"));
    const quint16 version = u16(r.data, 0);
    if (version != 0x0500 && version != 0x0600)
        throw Failure(QStringLiteral("формат не поддерживается (книга Excel версии BIFF %1)")
                          .arg(version, 4, 16, QLatin1Char('0')));
    globals.text.setBiff8(version == 0x0600);
    QHash<int, CellKind> formats;
    std::vector<int> xfFormats;
    std::vector<QByteArrayView> sst;
    bool windowSeen = false;
    while (stream.next(r) && r.type != Eof) {
        const QByteArrayView d = r.data;
        switch (r.type) {
        case FilePass:
            throw Failure(QStringLiteral("книга защищена паролем"));
        case Window1:
            if (!windowSeen)
                globals.activeTab = u16(d, 10); // itabCur
            windowSeen = true;
            break;
        case CodePage:
            globals.text.setCodePage(u16(d, 0));
            break;
        case DateMode:
            globals.date1904 = u16(d, 0) == 1;
            break;
        case WriteAccess:
            // xlwt signs every file with the owner "None" and stores no formula results.
            globals.fromXlwt = d.startsWith("None ") || (d.size() > 7 && QByteArrayView(d.data() + 3, 5) == "None ");
            break;
        case BoundSheet:
            if (static_cast<std::int64_t>(globals.sheets.size()) < WorkbookLimits::MaxZipEntries)
                globals.sheets.push_back({u32(d, 0), u8(d, 5), globals.text.string(d, 6, false)});
            break;
        case Format:
            formats.insert(u16(d, 0), formatKind(globals.text.string(d, 2, globals.text.biff8())));
            break;
        case Xf:
            if (xfFormats.size() < 65536)
                xfFormats.push_back(u16(d, 2));
            break;
        case Sst:
            sst.push_back(d);
            while (stream.peekType() == Continue && stream.next(r))
                sst.push_back(r.data);
            break;
        default:
            break;
        }
    }
    globals.xfKinds.reserve(xfFormats.size());
    for (const int format : xfFormats)
        globals.xfKinds.push_back(formats.contains(format) ? formats.value(format) : builtinFormatKind(format));
    if (!sst.empty())
        SharedStrings(std::move(sst)).read(pool);
    return globals;
}

QString errorCode(int code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    default:
        return QStringLiteral("#N/A");
    }
}

// The cells of one worksheet substream, from its BOF to its EOF. A chart
// embedded in the sheet is a substream of its own inside it (BOF .. EOF) and
// is passed over; its cached series are no cells of the sheet.
class SheetReader
{
public:
    SheetReader(const Globals& globals, SheetCells& cells, std::uint32_t sharedCount)
        : m_globals(globals), m_cells(cells), m_sharedCount(sharedCount)
    {
    }

    void read(QByteArrayView bytes, quint32 offset)
    {
        Biff::Stream stream(bytes);
        stream.seek(offset);
        Record r;
        if (!stream.next(r) || r.type != Bof)
            corrupt(QStringLiteral("лист «%1» не найден в потоке книги").arg(m_cells.sheetName()));
        int nested = 0;
        while (stream.next(r)) {
            if (r.type == Bof) {
                ++nested;
            } else if (r.type == Eof) {
                if (nested-- == 0)
                    break;
            } else if (nested == 0) {
                record(r, stream);
            }
        }
        pendingWithoutString();
    }

private:
    void record(const Record& r, Biff::Stream& stream);
    void number(const QByteArrayView d, int at, double value)
    {
        const int xf = u16(d, at);
        const CellKind kind =
            xf < static_cast<int>(m_globals.xfKinds.size()) ? m_globals.xfKinds[xf] : CellKind::Number;
        m_cells.addNumber(m_row, m_column, value, kind);
    }
    bool place(const QByteArrayView d, qsizetype minimum)
    {
        if (d.size() < minimum)
            corrupt(QStringLiteral("короткая запись ячейки"));
        m_row = u16(d, 0) + 1;
        m_column = u16(d, 2) + 1;
        return m_column <= WorkbookLimits::Columns;
    }
    void pendingWithoutString()
    {
        if (m_stringRow)
            m_cells.addFormulaWithoutValue(m_stringRow, m_stringColumn);
        m_stringRow = 0;
    }
    void formula(const QByteArrayView d);

    const Globals& m_globals;
    SheetCells& m_cells;
    std::uint32_t m_sharedCount;
    std::int64_t m_row = 0;
    int m_column = 0;
    std::int64_t m_stringRow = 0; // a text formula waiting for its STRING record
    int m_stringColumn = 0;
};

void SheetReader::record(const Record& r, Biff::Stream& stream)
{
    const QByteArrayView d = r.data;
    switch (r.type) {
    case Number:
        if (place(d, 14))
            number(d, 4, Biff::f64(d, 6));
        break;
    case Rk:
        if (place(d, 10))
            number(d, 4, Biff::rkValue(u32(d, 6)));
        break;
    case MulRk: {
        place(d, 6);
        const int first = m_column;
        for (qsizetype at = 4, i = 0; at + 6 <= d.size() - 2 && first + i <= WorkbookLimits::Columns; at += 6, ++i) {
            m_column = static_cast<int>(first + i);
            number(d, static_cast<int>(at), Biff::rkValue(u32(d, at + 2)));
        }
        break;
    }
    case LabelSst:
        if (place(d, 10)) {
            const quint32 index = u32(d, 6);
            if (index >= m_sharedCount)
                corrupt(QStringLiteral("ячейка %1 ссылается на несуществующую строку текста")
                            .arg(CellText::cellName(m_row, m_column)));
            m_cells.addTextIndex(m_row, m_column, index);
        }
        break;
    case Label:
    case RString:
        if (place(d, 8))
            m_cells.addText(m_row, m_column, m_globals.text.string(d, 6, true));
        break;
    case BoolErr:
        if (place(d, 8)) {
            if (u8(d, 7))
                m_cells.addError(m_row, m_column, errorCode(u8(d, 6)));
            else
                m_cells.addNumber(m_row, m_column, u8(d, 6) ? 1.0 : 0.0, CellKind::Boolean);
        }
        break;
    case FormulaRecord:
        pendingWithoutString();
        if (place(d, 20))
            formula(d);
        break;
    case StringRecord:
        if (m_stringRow) {
            // A long result goes on in CONTINUE records, each with its own flags byte in BIFF8.
            QString text = m_globals.text.string(d, 0, true);
            const qsizetype wanted = u16(d, 0);
            Record more;
            while (text.size() < wanted && stream.peekType() == Continue && stream.next(more)) {
                if (m_globals.text.biff8()) {
                    const bool wide = u8(more.data, 0) & 0x01;
                    const QByteArrayView rest = more.data.sliced(std::min<qsizetype>(1, more.data.size()));
                    text += wide ? QString::fromUtf16(reinterpret_cast<const char16_t*>(rest.data()), rest.size() / 2)
                                 : QString::fromLatin1(rest);
                } else {
                    text += m_globals.text.bytes(more.data);
                }
            }
            m_cells.addText(m_stringRow, m_stringColumn, text.left(wanted));
            m_stringRow = 0;
        }
        break;
    default:
        break;
    }
}

void SheetReader::formula(const QByteArrayView d)
{
    if (u16(d, 12) != 0xFFFF) {
        number(d, 4, Biff::f64(d, 6));
        return;
    }
    switch (u8(d, 6)) {
    case 0: // a text, in the STRING record that follows
        m_stringRow = m_row;
        m_stringColumn = m_column;
        break;
    case 1:
        m_cells.addNumber(m_row, m_column, u8(d, 8) ? 1.0 : 0.0, CellKind::Boolean);
        break;
    case 2:
        m_cells.addError(m_row, m_column, errorCode(u8(d, 8)));
        break;
    case 3:
        // An empty text (="" or a lookup that found one). xlwt writes this for
        // every formula without computing it: there it means no stored value.
        if (m_globals.fromXlwt)
            m_cells.addFormulaWithoutValue(m_row, m_column);
        else
            m_cells.addText(m_row, m_column, QStringView());
        break;
    default:
        m_cells.addFormulaWithoutValue(m_row, m_column);
        break;
    }
}

} // namespace

SheetCells readXls(const QByteArray& bytes)
{
    const CompoundFile file(bytes);
    if (file.hasStream(QStringLiteral("EncryptedPackage")))
        throw Failure(QStringLiteral("книга защищена паролем"));
    // BIFF8 names the stream Workbook, BIFF5 Book; writers vary the case.
    QByteArray stream = file.stream(QStringLiteral("Workbook"));
    if (stream.isEmpty())
        stream = file.stream(QStringLiteral("Book"));
    if (stream.isEmpty())
        throw Failure(QStringLiteral("формат не поддерживается (составной файл без книги Excel)"));
    SheetCells cells(XlsRows);
    const Globals globals = readGlobals(stream, cells.texts());
    if (globals.sheets.empty())
        throw Failure(QStringLiteral("в книге нет листов"));
    const int tab = globals.activeTab < static_cast<int>(globals.sheets.size()) ? globals.activeTab : 0;
    const SheetEntry& active = globals.sheets[tab];
    cells.setSheetName(active.name);
    cells.setDate1904(globals.date1904);
    // A chart sheet, a macro sheet or a module has no cells an operator would name.
    if (active.type == 0)
        SheetReader(globals, cells, cells.texts().size()).read(stream, active.offset);
    cells.finish();
    return cells;
}

} // namespace WorkbookReader
