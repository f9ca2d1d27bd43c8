#include "base/error.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"

#include <QBuffer>
#include <QIODevice>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

namespace WorkbookReader {
namespace {

constexpr qsizetype Chunk = 64 * 1024; // stays in the cache while it is parsed
constexpr qsizetype SniffBytes = 64 * 1024;

// Which candidate splits the first lines: ';' when it splits every line into
// the same number of fields, then tab, then ','; a Russian export of
// fractions (1,5;2,5) has more commas than semicolons but only the semicolons
// split it evenly. When none is even, the most frequent wins. The bytes are
// UTF-8 or Windows-1251, where all these characters are the ASCII ones.
char detectDelimiter(QByteArrayView text)
{
    const std::array<char, 3> candidates = {';', '\t', ','};
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
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == '\n' || c == '\r')) {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
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

bool continuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isUtf8(const unsigned char* s, std::size_t n)
{
    std::size_t i = 0;
    while (i < n) {
        // Plain ASCII, which most fields are, eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i == n)
            break;
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF; // the second byte's range
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > n || s[i + 1] < low || s[i + 1] > high)
            return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (!continuation(s[i + k]))
                return false;
        }
        i += length;
    }
    return true;
}

// Fields and records straight from the bytes (UTF-8 or Windows-1251: the
// delimiters, quotes and line ends are the same bytes in both), fed in pieces
// of any size; what an unfinished field has read waits for the next piece.
// Which of the two encodings it is, the stored fields tell at the end.
class CsvParser
{
public:
    CsvParser(TextRows& rows, char delimiter) : m_rows(rows), m_delimiter(delimiter)
    {
        m_special.fill(false);
        for (const char c : {delimiter, '\r', '\n', '"'})
            m_special[static_cast<unsigned char>(c)] = true;
        m_delimiters = Ones * static_cast<unsigned char>(delimiter);
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
                i = nextSpecial(data, i, size);
                if (i < size && data[i] == '"') { // a quote inside a field is a character
                    m_field = QByteArray(data + start, i - start);
                    if (!rest(data, size, i, last))
                        return start;
                } else if (goesOn(data, i, size, last)) {
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
                i += (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') ? 2 : 1;
                ++m_row;
                m_column = 1;
            }
        }
        return i;
    }

private:
    static constexpr std::uint64_t Ones = 0x0101010101010101ULL;

    // Where the next delimiter, quote or line end is from data[i]; eight bytes
    // at a time, as most fields are several bytes long.
    qsizetype nextSpecial(const char* data, qsizetype i, qsizetype size) const
    {
        if constexpr (std::endian::native == std::endian::little) {
            const auto has = [](std::uint64_t word, std::uint64_t pattern) {
                const std::uint64_t x = word ^ pattern; // a zero byte where they match
                return (x - Ones) & ~x & (Ones << 7);   // exact from the lowest match up
            };
            for (; i + 8 <= size; i += 8) {
                std::uint64_t word;
                std::memcpy(&word, data + i, 8);
                const std::uint64_t hits =
                    has(word, m_delimiters) | has(word, Ones * '"') | has(word, Ones * '\r') | has(word, Ones * '\n');
                if (hits)
                    return i + std::countr_zero(hits) / 8;
            }
        }
        while (i < size && !m_special[static_cast<unsigned char>(data[i])])
            ++i;
        return i;
    }

    // Whether the field that stops at data[i] may go on in the next piece: it
    // reached the end, or its line end is a CR whose LF may come next.
    static bool goesOn(const char* data, qsizetype i, qsizetype size, bool last)
    {
        return !last && (i == size || (data[i] == '\r' && i + 1 == size));
    }

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
        if (goesOn(data, i, size, last))
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

    void add(QByteArrayView field) { m_rows.add(m_row, m_column, field); }

    TextRows& m_rows;
    char m_delimiter;
    std::array<bool, 256> m_special;
    std::uint64_t m_delimiters; // the delimiter in every byte
    std::int64_t m_row = 1;
    int m_column = 1;
    QByteArray m_field;
};

// The file's bytes after its byte order mark, UTF-16 turned into UTF-8 as
// they come; a device may hand them out a few at a time.
class Source
{
public:
    explicit Source(QIODevice& device) : m_device(device)
    {
        if (!device.seek(0))
            throw Failure(QStringLiteral("файл не читается"));
        QByteArray head;
        while (head.size() < 3) {
            const QByteArray more = readRaw(3 - head.size());
            if (more.isEmpty())
                break;
            head += more;
        }
        if (head.startsWith("\xEF\xBB\xBF")) {
            head.remove(0, 3);
        } else if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
            m_utf16.emplace(head.startsWith("\xFE") ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE);
            head.remove(0, 2);
        }
        m_pending = head;
    }

    // Puts up to `most` bytes (more when UTF-16 grows into UTF-8) at buffer[at]; 0 at the end.
    qsizetype read(QByteArray& buffer, qsizetype at, qsizetype most)
    {
        if (m_utf16) {
            QByteArray utf8;
            while (utf8.isEmpty()) {
                const QByteArray raw = std::exchange(m_pending, {}) + readRaw(most);
                if (raw.isEmpty() && m_held.isNull())
                    return 0;
                QString text = std::exchange(m_held, {}) + QString((*m_utf16)(raw));
                // A pair of surrogates may be cut between the pieces: its first
                // half waits for the second.
                if (!raw.isEmpty() && !text.isEmpty() && text.back().isHighSurrogate()) {
                    m_held = text.back();
                    text.chop(1);
                }
                utf8 = text.toUtf8();
            }
            place(buffer, at, utf8.size());
            std::memcpy(buffer.data() + at, utf8.constData(), static_cast<std::size_t>(utf8.size()));
            return utf8.size();
        }
        place(buffer, at, most);
        const qsizetype pending = m_pending.size();
        std::memcpy(buffer.data() + at, m_pending.constData(), static_cast<std::size_t>(pending));
        m_pending.clear();
        const qint64 got = m_device.read(buffer.data() + at + pending, most - pending);
        if (got < 0)
            throw Failure(QStringLiteral("файл не читается (%1)").arg(m_device.errorString()));
        return pending + got;
    }

private:
    static void place(QByteArray& buffer, qsizetype at, qsizetype bytes)
    {
        if (buffer.size() < at + bytes)
            buffer.resize(at + bytes);
    }
    QByteArray readRaw(qint64 most)
    {
        QByteArray bytes(most, Qt::Uninitialized);
        const qint64 got = m_device.read(bytes.data(), most);
        if (got < 0)
            throw Failure(QStringLiteral("файл не читается (%1)").arg(m_device.errorString()));
        bytes.resize(got);
        return bytes;
    }

    QIODevice& m_device;
    std::optional<QStringDecoder> m_utf16;
    QByteArray m_pending; // read with the byte order mark, not yet handed out
    QString m_held;       // a high surrogate whose low one is still to come
};

// Reads the whole device in pieces. A field longer than a piece is read again
// with the next one, so the pieces grow with it and a long field costs its
// length a few times, not its length squared.
void parse(QIODevice& device, TextRows& rows)
{
    Source source(device);
    QByteArray buffer;
    qsizetype size = 0;
    bool last = false;
    // The delimiter is judged by the first lines, however the file hands them out.
    while (size < SniffBytes && !last) {
        const qsizetype got = source.read(buffer, size, Chunk);
        size += got;
        last = got == 0;
    }
    CsvParser parser(rows, detectDelimiter(QByteArrayView(buffer).first(std::min(size, SniffBytes))));
    bool first = true;
    bool utf8 = true;
    for (;;) {
        const qsizetype used = parser.feed(buffer.constData(), size, last);
        // What a feed used ends after a delimiter or line end, so no character is cut.
        utf8 =
            utf8 && isUtf8(reinterpret_cast<const unsigned char*>(buffer.constData()), static_cast<std::size_t>(used));
        if (std::exchange(first, false))
            rows.expect(used, device.size());
        if (last)
            break;
        const qsizetype kept = size - used;
        std::memmove(buffer.data(), buffer.constData() + used, static_cast<std::size_t>(kept));
        // A long unfinished field is parsed again only once as much again has
        // come, however few bytes a read hands out.
        const qsizetype wanted = kept > 256 ? kept : 1;
        qsizetype got = 0;
        while (got < wanted) {
            const qsizetype more = source.read(buffer, kept + got, std::max(Chunk, kept));
            if (more == 0)
                break;
            got += more;
        }
        size = kept + got;
        last = got == 0;
    }
    rows.setWindows1251(!utf8);
}

} // namespace

// UTF-8 with or without a byte order mark, UTF-16 with one (Excel's "Unicode
// text"); a file that is not valid UTF-8 is what a Russian-locale spreadsheet
// program writes: Windows-1251. The file is read in pieces, never whole.
SheetCells readCsv(QIODevice& device)
{
    if (device.size() > WorkbookLimits::MaxCsvBytes)
        throw Failure(
            QStringLiteral("книга слишком велика (более %1 МБ)").arg(WorkbookLimits::MaxCsvBytes / (1024 * 1024)));
    SheetCells cells(0);
    cells.textRows().reserve(device.size());
    parse(device, cells.textRows());
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
