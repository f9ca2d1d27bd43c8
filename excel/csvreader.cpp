#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "link/error.h"
#include "link/windows1251.h"

#include <QBuffer>
#include <QIODevice>
#include <QStringDecoder>
#include <array>
#include <cstring>
#include <memory>

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

struct NotUtf8
{
};

// Fields and records straight from the bytes (UTF-8 or Windows-1251: the
// delimiters, quotes and line ends are the same bytes in both), fed in pieces
// of any size; what an unfinished field has read waits for the next piece.
class CsvParser
{
public:
    CsvParser(SheetCells& cells, char delimiter, bool windows1251)
        : m_cells(cells), m_delimiter(delimiter), m_windows1251(windows1251)
    {
        m_special.fill(false);
        for (const char c : {delimiter, '\r', '\n', '"'})
            m_special[static_cast<unsigned char>(c)] = true;
    }

    // Parses what `data` holds; returns how many bytes were used. Unless `last`,
    // an unfinished field is left unread for the next call (with more bytes).
    qsizetype feed(const char* data, qsizetype size, bool last)
    {
        qsizetype i = 0;
        while (i < size) {
            const qsizetype start = i;
            if (data[i] == '"') {
                if (!quoted(data, size, i, last))
                    return start;
            } else {
                while (i < size && !m_special[static_cast<unsigned char>(data[i])])
                    ++i;
                if (i < size && data[i] == '"') { // a quote inside a field is a character
                    m_field = QByteArray(data + start, i - start);
                    if (!rest(data, size, i, last))
                        return start;
                } else if (i == size && !last) {
                    return start;
                } else {
                    add(QByteArrayView(data + start, i - start));
                }
            }
            if (i < size && data[i] == m_delimiter) {
                ++i;
                ++m_column;
                if (i == size && last)
                    add({});
            } else if (i < size) { // a line end
                if (data[i] == '\r' && i + 1 == size && !last)
                    return start; // CR LF may be cut between the pieces: read the field again
                i += (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') ? 2 : 1;
                ++m_row;
                m_column = 1;
            }
        }
        return i;
    }

private:
    // A quoted field from data[i] == '"'; a doubled quote is one, a line
    // break inside belongs to the field as LF. False when it does not end here.
    bool quoted(const char* data, qsizetype size, qsizetype& i, bool last)
    {
        m_field.clear();
        qsizetype at = i + 1;
        for (;;) {
            const char* quote = static_cast<const char*>(std::memchr(data + at, '"', static_cast<size_t>(size - at)));
            const qsizetype end = quote ? quote - data : size;
            appendLineEnds(QByteArrayView(data + at, end - at));
            if (!quote) {
                if (!last)
                    return false;
                i = size;
                add(m_field);
                return true;
            }
            if (end + 1 < size && data[end + 1] == '"') {
                m_field.append('"');
                at = end + 2;
                continue;
            }
            if (end + 1 == size && !last)
                return false;
            i = end + 1;
            return rest(data, size, i, last);
        }
    }

    // Characters after a closing quote (or from a quote inside an unquoted
    // field) up to the delimiter or line end, taken as they are.
    bool rest(const char* data, qsizetype size, qsizetype& i, bool last)
    {
        const qsizetype start = i;
        while (i < size && data[i] != m_delimiter && data[i] != '\r' && data[i] != '\n')
            ++i;
        if (i == size && !last)
            return false;
        m_field.append(data + start, i - start);
        add(m_field);
        return true;
    }

    void appendLineEnds(QByteArrayView bytes)
    {
        for (qsizetype k = 0; k < bytes.size(); ++k) {
            if (bytes[k] == '\r') {
                m_field.append('\n');
                if (k + 1 < bytes.size() && bytes[k + 1] == '\n')
                    ++k;
            } else {
                m_field.append(bytes[k]);
            }
        }
    }

    void add(QByteArrayView field)
    {
        if (m_column > WorkbookLimits::Columns || field.isEmpty())
            return;
        std::uint32_t index = 0;
        if (m_windows1251)
            index = m_cells.texts().addWindows1251(field);
        else if (!m_cells.texts().addUtf8(field, index))
            throw NotUtf8();
        m_cells.addTextIndex(m_row, m_column, index);
    }

    SheetCells& m_cells;
    char m_delimiter;
    bool m_windows1251;
    std::array<bool, 256> m_special;
    std::int64_t m_row = 1;
    int m_column = 1;
    QByteArray m_field;
};

// Reads the whole device in pieces. UTF-16 is turned into UTF-8 piece by piece.
void parse(QIODevice& device, Encoding encoding, SheetCells& cells)
{
    if (!device.seek(0))
        throw Failure(QStringLiteral("файл не читается"));
    if (device.peek(3).startsWith("\xEF\xBB\xBF"))
        device.skip(3);
    else if (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE)
        device.skip(2);
    QStringDecoder utf16(encoding == Encoding::Utf16BE ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE);
    QByteArray buffer;
    std::unique_ptr<CsvParser> parser;
    for (;;) {
        // Read into the end of the one buffer, which keeps its room between pieces.
        const qsizetype kept = buffer.size();
        buffer.resize(kept + Chunk);
        const qint64 got = device.read(buffer.data() + kept, Chunk);
        if (got < 0)
            throw Failure(QStringLiteral("файл не читается (%1)").arg(device.errorString()));
        buffer.resize(kept + got);
        if (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE) {
            const QByteArray utf8 = QString(utf16(QByteArrayView(buffer).sliced(kept))).toUtf8();
            buffer.resize(kept);
            buffer.append(utf8);
        }
        const bool last = got == 0;
        if (!parser) {
            const QString head = encoding == Encoding::Windows1251 ? Windows1251::decode(QByteArrayView(buffer).first(std::min<qsizetype>(buffer.size(), 65536)))
                                                                   : QString::fromUtf8(QByteArrayView(buffer).first(std::min<qsizetype>(buffer.size(), 65536)));
            parser = std::make_unique<CsvParser>(cells, static_cast<char>(detectDelimiter(head).unicode()), encoding == Encoding::Windows1251);
        }
        const qsizetype used = parser->feed(buffer.constData(), buffer.size(), last);
        buffer.remove(0, used);
        if (last)
            break;
    }
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
    // A field takes at least two bytes with its delimiter, a character at most one.
    const std::int64_t size = device.size();
    try {
        SheetCells cells(0);
        cells.reserve(size / 6, size);
        parse(device, first, cells);
        cells.finish();
        return cells;
    } catch (const NotUtf8&) {
        SheetCells cells(0);
        cells.reserve(size / 6, size);
        parse(device, Encoding::Windows1251, cells);
        cells.finish();
        return cells;
    }
}

SheetCells readCsv(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readCsv(buffer);
}

} // namespace WorkbookReader
