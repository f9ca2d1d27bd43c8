// Feeds arbitrary bytes to the workbook readers. The first byte chooses what
// the rest is: 0 an xlsx file, 1 an ods file, 2 an xls file, 3 a csv file;
// 4 and 5 the parts of an xlsx or ods package, separated by NUL bytes, which
// are zipped here (stored, with correct checksums) so that mutations reach the
// XML readers instead of stopping at the zip's CRC check. A Failure is a
// reader's answer to a bad file; anything else (a crash, a sanitizer report, a
// leak, a hang, memory without bound) is a bug. Every cell found is turned into
// its text as TExcelApplication would.
#include "base/error.h"
#include "excel/sheetcells.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "excel/ziparchive.h"
#include "tests/excel/trickle.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

quint32 crc32(QByteArrayView bytes)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void put16(QByteArray& out, quint32 value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void put32(QByteArray& out, quint32 value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// The input split at NUL bytes, one piece per name, as a zip with stored entries.
QByteArray zipParts(const QByteArray& input, std::initializer_list<const char*> names)
{
    const QList<QByteArray> pieces = input.split('\0');
    QByteArray out;
    QByteArray directory;
    quint32 count = 0;
    auto name = names.begin();
    for (qsizetype i = 0; i < pieces.size() && name != names.end(); ++i, ++name) {
        const QByteArray& piece = pieces[i];
        const QByteArrayView entry(*name);
        const quint32 offset = static_cast<quint32>(out.size());
        const quint32 crc = crc32(piece);
        auto header = [&](QByteArray& to, bool central) {
            put32(to, central ? 0x02014B50 : 0x04034B50);
            if (central)
                put16(to, 20); // made by
            put16(to, 20);     // needed to extract
            put16(to, 0);      // flags
            put16(to, 0);      // stored
            put32(to, 0);      // time and date
            put32(to, crc);
            put32(to, static_cast<quint32>(piece.size()));
            put32(to, static_cast<quint32>(piece.size()));
            put16(to, static_cast<quint32>(entry.size()));
            put16(to, 0); // extra
            if (central) {
                put16(to, 0); // comment
                put16(to, 0); // disk
                put16(to, 0); // internal attributes
                put32(to, 0); // external attributes
                put32(to, offset);
            }
            to.append(entry);
        };
        header(out, false);
        out.append(piece);
        header(directory, true);
        ++count;
    }
    const quint32 directoryOffset = static_cast<quint32>(out.size());
    out.append(directory);
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    put16(out, count);
    put16(out, count);
    put32(out, static_cast<quint32>(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

SheetCells read(int format, const QByteArray& bytes)
{
    switch (format) {
    case 0: {
        ZipArchive archive(bytes);
        return WorkbookReader::readXlsx(archive);
    }
    case 1: {
        ZipArchive archive(bytes);
        return WorkbookReader::readOds(archive);
    }
    case 2:
        return WorkbookReader::readXls(bytes);
    case 3:
        return WorkbookReader::readCsv(bytes);
    case 4: {
        const QByteArray zipped =
            zipParts(bytes, {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                             "xl/sharedStrings.xml", "xl/styles.xml", "xl/worksheets/sheet1.xml"});
        ZipArchive archive(zipped);
        return WorkbookReader::readXlsx(archive);
    }
    default: {
        const QByteArray zipped = zipParts(bytes, {"mimetype", "settings.xml", "content.xml"});
        ZipArchive archive(zipped);
        return WorkbookReader::readOds(archive);
    }
    }
}

// A csv read in pieces of a few bytes reads the same as read whole. The input
// is repeated past the 64 KB the delimiter is judged by, so that the parser
// gets the pieces too, not only the byte order mark and UTF-16 reading.
void comparePieces(const QByteArray& bytes, qint64 piece)
{
    const QByteArray file = bytes.repeated(static_cast<qsizetype>(70000 / (bytes.size() + 1) + 2));
    const SheetCells whole = WorkbookReader::readCsv(file);
    Trickle device(file, piece);
    const SheetCells pieces = WorkbookReader::readCsv(device);
    for (std::int64_t row : {1, 2, 3, 9, 100, 1000, 5000, 20000, 70000}) {
        for (int column = 1; column <= WorkbookLimits::Columns; ++column) {
            if (whole.textRows().text(row, column) != pieces.textRows().text(row, column))
                __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int format = data[0] % 6;
    // A deep copy: the zip reader keeps pointers into the bytes while it reads.
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    try {
        const SheetCells cells = read(format, bytes);
        if (cells.cellCount() >
            static_cast<std::size_t>(format == 3 ? WorkbookLimits::MaxCsvFields : WorkbookLimits::MaxCells))
            __builtin_trap();
        if (format == 3 && data[size - 1] < 64) // a quarter of them: it reads 140 KB
            comparePieces(bytes, 1 + data[size - 1] % 61);
        // The first rows, every column, and the last row a template could name.
        std::size_t total = 0;
        const std::int64_t lastRow = cells.rowLimit() > 0 ? cells.rowLimit() : 1048576;
        for (std::int64_t row : {std::int64_t(1), std::int64_t(2), std::int64_t(3), std::int64_t(9), lastRow}) {
            for (int column = 1; column <= WorkbookLimits::Columns; ++column) {
                const SheetCells::Cell* cell = cells.find(row, column);
                if (cell && (cell->row != row || cell->column != column))
                    __builtin_trap();
                const QString text = cell ? cells.textOf(*cell) : cells.textRows().text(row, column);
                total += static_cast<std::size_t>(text.size());
            }
        }
        (void)total;
    } catch (const Failure&) {
        // A refused file: the accepted outcome for most inputs.
    }
    return 0;
}
