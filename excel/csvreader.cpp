#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "link/error.h"

#include <QStringDecoder>
#include <array>

namespace WorkbookReader {
namespace {

// Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are А..я in order.
constexpr std::array<char16_t, 64> Cp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

QString fromWindows1251(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        if (b < 0x80)
            *out++ = QChar(static_cast<char16_t>(b));
        else if (b < 0xC0)
            *out++ = QChar(Cp1251High[b - 0x80]);
        else
            *out++ = QChar(static_cast<char16_t>(0x0410 + (b - 0xC0)));
    }
    return text;
}

// UTF-8 with or without a byte order mark, UTF-16 with one (Excel's "Unicode
// text"); anything that is not valid UTF-8 is what a Russian-locale spreadsheet
// program writes: Windows-1251.
QString decode(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(bytes.startsWith("\xFF") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        return utf16(bytes.mid(2));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return fromWindows1251(bytes);
}

// The delimiter that occurs most often outside quotes in the first lines;
// on a tie ';' wins, being what a Russian-locale export uses.
QChar detectDelimiter(QStringView text)
{
    const QChar candidates[] = {u';', u',', u'\t'};
    int counts[3] = {0, 0, 0};
    bool quoted = false;
    int lines = 0;
    for (qsizetype i = 0; i < text.size() && lines < 20; ++i) {
        const QChar c = text[i];
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && c == u'\n')
            ++lines;
        else if (!quoted) {
            for (int k = 0; k < 3; ++k)
                counts[k] += c == candidates[k];
        }
    }
    int best = 0;
    for (int k = 1; k < 3; ++k) {
        if (counts[k] > counts[best])
            best = k;
    }
    return candidates[best];
}

} // namespace

SheetCells readCsv(const QByteArray& bytes)
{
    if (bytes.size() > WorkbookLimits::MaxCsvBytes)
        throw Failure(QStringLiteral("книга слишком велика (более %1 МБ)").arg(WorkbookLimits::MaxCsvBytes / (1024 * 1024)));
    const QString text = decode(bytes);
    const QChar delimiter = detectDelimiter(text);
    SheetCells cells(0);
    std::int64_t row = 1;
    int column = 1;
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    auto endField = [&] {
        if (column <= WorkbookLimits::Columns && !field.isEmpty())
            cells.addText(row, column, field);
        field.clear();
        wasQuoted = false;
        ++column;
    };
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (quoted) {
            // A line break inside quotes belongs to the field, as LF whatever the file uses.
            if (c == u'"' && i + 1 < size && text[i + 1] == u'"')
                field.append(text[++i]);
            else if (c == u'"')
                quoted = false;
            else if (!(c == u'\r' && i + 1 < size && text[i + 1] == u'\n'))
                field.append(c == u'\r' ? QChar(u'\n') : c);
        } else if (c == u'"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == delimiter) {
            endField();
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n')
                ++i;
            endField();
            ++row;
            column = 1;
        } else {
            field.append(c);
        }
    }
    if (!field.isEmpty() || column > 1)
        endField();
    cells.finish();
    return cells;
}

} // namespace WorkbookReader
