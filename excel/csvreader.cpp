#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "link/error.h"
#include "link/windows1251.h"

#include <QStringDecoder>

namespace WorkbookReader {
namespace {

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
    return Windows1251::decode(bytes);
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
