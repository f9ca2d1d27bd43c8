#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "link/error.h"
#include "link/windows1251.h"

#include <QBuffer>
#include <QIODevice>
#include <QStringDecoder>
#include <array>

namespace WorkbookReader {
namespace {

constexpr qint64 Chunk = 1 << 20;

enum class Encoding { Utf8, Utf16LE, Utf16BE, Windows1251 };

// Which candidate splits the first lines: ';' when it splits every line into
// the same number of fields, then tab, then ','; a Russian export of
// fractions (1,5;2,5) has more commas than semicolons but only the semicolons
// split it evenly. When none is even, the most frequent wins.
QChar detectDelimiter(QStringView text)
{
    const std::array<QChar, 3> candidates = {u';', u'\t', u','};
    std::array<int, 3> total = {0, 0, 0};
    std::array<int, 3> perLine = {-1, -1, -1}; // count on every line so far; -2 once they differ
    std::array<int, 3> line = {0, 0, 0};
    bool quoted = false;
    int lines = 0;
    auto endLine = [&] {
        bool empty = true;
        for (int k = 0; k < 3; ++k)
            empty = empty && line[k] == 0;
        for (int k = 0; k < 3 && !empty; ++k) {
            if (perLine[k] == -1)
                perLine[k] = line[k];
            else if (perLine[k] != line[k])
                perLine[k] = -2;
        }
        line = {0, 0, 0};
        ++lines;
    };
    for (qsizetype i = 0; i < text.size() && lines < 20; ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && (c == u'\n' || c == u'\r')) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            endLine();
        } else if (!quoted) {
            for (int k = 0; k < 3; ++k) {
                if (c == candidates[k]) {
                    ++line[k];
                    ++total[k];
                }
            }
        }
    }
    if (line[0] || line[1] || line[2])
        endLine();
    for (int k = 0; k < 3; ++k) {
        if (perLine[k] > 0)
            return candidates[k];
    }
    int best = 0;
    for (int k = 1; k < 3; ++k) {
        if (total[k] > total[best])
            best = k;
    }
    return candidates[best];
}

// Fields and records of the text, fed in pieces of any size.
class CsvParser
{
public:
    CsvParser(SheetCells& cells, QChar delimiter) : m_cells(cells), m_delimiter(delimiter) {}

    void feed(QStringView text)
    {
        const QChar* p = text.data();
        const QChar* const end = p + text.size();
        while (p < end) {
            const QChar c = *p++;
            if (m_afterCr) {
                m_afterCr = false;
                if (c == u'\n')
                    continue;
            }
            if (m_quoted) {
                if (m_quoteSeen) {
                    m_quoteSeen = false;
                    if (c == u'"') {
                        m_field.append(c); // a doubled quote is one
                        continue;
                    }
                    m_quoted = false; // the closing quote; c is read as outside quotes
                } else if (c == u'"') {
                    m_quoteSeen = true;
                    continue;
                } else {
                    // A line break inside quotes belongs to the field, as LF whatever the file uses.
                    if (c == u'\r') {
                        m_field.append(QLatin1Char('\n'));
                        m_afterCr = true;
                    } else {
                        m_field.append(c);
                    }
                    continue;
                }
            }
            if (c == m_delimiter) {
                endField();
            } else if (c == u'\n' || c == u'\r') {
                m_afterCr = c == u'\r';
                endField();
                ++m_row;
                m_column = 1;
            } else if (c == u'"' && m_field.isEmpty() && !m_wasQuoted) {
                m_quoted = m_wasQuoted = true;
            } else {
                // A run of plain characters at once.
                const QChar* run = p - 1;
                while (p < end && *p != m_delimiter && *p != u'\n' && *p != u'\r' && *p != u'"')
                    ++p;
                m_field.append(run, p - run);
            }
        }
    }

    void finish()
    {
        if (!m_field.isEmpty() || m_column > 1)
            endField();
    }

private:
    void endField()
    {
        if (m_column <= WorkbookLimits::Columns && !m_field.isEmpty())
            m_cells.addText(m_row, m_column, m_field);
        m_field.clear();
        m_wasQuoted = false;
        ++m_column;
    }

    SheetCells& m_cells;
    QChar m_delimiter;
    std::int64_t m_row = 1;
    int m_column = 1;
    QString m_field;
    bool m_quoted = false;
    bool m_quoteSeen = false;
    bool m_wasQuoted = false;
    bool m_afterCr = false;
};

// Reads the whole device through the decoder; false when the bytes are not
// valid in the encoding (only UTF-8 is tried and may fail).
bool parse(QIODevice& device, Encoding encoding, SheetCells& cells)
{
    if (!device.seek(0))
        throw Failure(QStringLiteral("файл не читается"));
    QByteArray head = device.peek(3);
    if (head.startsWith("\xEF\xBB\xBF"))
        device.skip(3);
    else if (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE)
        device.skip(2);
    QStringDecoder decoder(encoding == Encoding::Utf16LE   ? QStringDecoder::Utf16LE
                           : encoding == Encoding::Utf16BE ? QStringDecoder::Utf16BE
                                                           : QStringDecoder::Utf8);
    QByteArray bytes;
    QString text;
    std::unique_ptr<CsvParser> parser;
    for (;;) {
        bytes.resize(Chunk);
        const qint64 got = device.read(bytes.data(), Chunk);
        if (got < 0)
            throw Failure(QStringLiteral("файл не читается (%1)").arg(device.errorString()));
        bytes.resize(got);
        if (encoding == Encoding::Windows1251) {
            text = Windows1251::decode(bytes);
        } else {
            text = decoder(bytes);
            if (decoder.hasError())
                return false;
        }
        if (!parser)
            parser = std::make_unique<CsvParser>(cells, detectDelimiter(text));
        parser->feed(text);
        if (got == 0)
            break;
    }
    parser->finish();
    return true;
}

} // namespace

// UTF-8 with or without a byte order mark, UTF-16 with one (Excel's "Unicode
// text"); a file that is not valid UTF-8 is what a Russian-locale spreadsheet
// program writes: Windows-1251. The file is read in pieces, never whole.
SheetCells readCsv(QIODevice& device)
{
    if (device.size() > WorkbookLimits::MaxCsvBytes)
        throw Failure(QStringLiteral("книга слишком велика (более %1 МБ)").arg(WorkbookLimits::MaxCsvBytes / (1024 * 1024)));
    const QByteArray head = device.peek(2);
    const Encoding first = head.startsWith("\xFF\xFE")   ? Encoding::Utf16LE
                           : head.startsWith("\xFE\xFF") ? Encoding::Utf16BE
                                                         : Encoding::Utf8;
    {
        SheetCells cells(0);
        if (parse(device, first, cells)) {
            cells.finish();
            return cells;
        }
    }
    SheetCells cells(0);
    parse(device, Encoding::Windows1251, cells);
    cells.finish();
    return cells;
}

SheetCells readCsv(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readCsv(buffer);
}

} // namespace WorkbookReader
