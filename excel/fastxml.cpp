#include "excel/fastxml.h"

#include "base/error.h"
#include "excel/workbooklimits.h"
#include "excel/ziparchive.h"

#include <QIODevice>
#include <algorithm>
#include <cstring>

namespace {
constexpr qsizetype Chunk = 64 << 10;
constexpr qsizetype MaxToken = 64 << 20;

QByteArrayView localName(QByteArrayView qualified)
{
    for (qsizetype i = 0; i < qualified.size(); ++i) {
        if (qualified.data()[i] == ':')
            return qualified.sliced(i + 1);
    }
    return qualified;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
} // namespace

FastXml::FastXml(QIODevice* device, const QString& part, const ZipArchive* archive)
    : m_device(device), m_part(part), m_archive(archive)
{
}

void FastXml::fail(const QString& reason) const
{
    if (m_archive && m_archive->overrun())
        throw Failure(m_archive->overrunText());
    throw Failure(QStringLiteral("файл повреждён (%1: %2)").arg(m_part, reason));
}

// Makes at least `needed` bytes available from m_pos; false at the end of input.
bool FastXml::fill(qsizetype needed)
{
    while (m_buffer.size() - m_pos < needed) {
        if (m_eof)
            return false;
        if (m_buffer.size() - m_pos > MaxToken)
            fail(QStringLiteral("слишком длинный элемент"));
        m_buffer.remove(0, m_pos);
        m_pos = 0;
        const qsizetype old = m_buffer.size();
        m_buffer.resize(old + Chunk);
        const qint64 got = m_device->read(m_buffer.data() + old, Chunk);
        m_buffer.resize(old + std::max<qint64>(got, 0));
        if (got <= 0)
            m_eof = true;
    }
    return true;
}

// Position of c at or after from (relative to m_pos), reading more as needed; -1 when absent.
qsizetype FastXml::find(char c, qsizetype from)
{
    for (;;) {
        const char* begin = m_buffer.constData() + m_pos + from;
        const qsizetype available = m_buffer.size() - m_pos - from;
        if (available > 0) {
            if (const void* hit = std::memchr(begin, c, static_cast<size_t>(available)))
                return static_cast<const char*>(hit) - (m_buffer.constData() + m_pos);
            from += available;
        }
        if (!fill(from + 1))
            return -1;
    }
}

qsizetype FastXml::findSequence(QByteArrayView sequence, qsizetype from)
{
    for (;;) {
        const qsizetype at = find(sequence[0], from);
        if (at < 0)
            return -1;
        if (!fill(at + sequence.size()))
            return -1;
        if (QByteArrayView(m_buffer.constData() + m_pos + at, sequence.size()) == sequence)
            return at;
        from = at + 1;
    }
}

bool FastXml::next()
{
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_token = End;
        m_open.pop_back();
        return true;
    }
    for (;;) {
        if (!fill(1)) {
            if (!m_open.empty() || !m_seenRoot)
                fail(QStringLiteral("документ обрывается"));
            m_token = None;
            return false;
        }
        const char* here = m_buffer.constData() + m_pos;
        if (*here != '<') {
            qsizetype end = find('<', 0);
            if (end < 0)
                end = m_buffer.size() - m_pos;
            m_text = QByteArrayView(m_buffer.constData() + m_pos, end);
            m_textIsCdata = false;
            m_pos += end;
            if (m_open.empty())
                continue; // whitespace around the root element
            m_token = Text;
            return true;
        }
        if (!fill(2))
            fail(QStringLiteral("документ обрывается"));
        const char second = m_buffer.at(m_pos + 1);
        if (second == '!') {
            fill(9);
            const QByteArrayView head(m_buffer.constData() + m_pos, std::min<qsizetype>(9, m_buffer.size() - m_pos));
            if (head.startsWith("<!--")) {
                const qsizetype end = findSequence("-->", 4);
                if (end < 0)
                    fail(QStringLiteral("незакрытый комментарий"));
                m_pos += end + 3;
            } else if (head.startsWith("<![CDATA[")) {
                const qsizetype end = findSequence("]]>", 9);
                if (end < 0)
                    fail(QStringLiteral("незакрытый раздел CDATA"));
                m_text = QByteArrayView(m_buffer.constData() + m_pos + 9, end - 9);
                m_textIsCdata = true;
                m_pos += end + 3;
                m_token = Text;
                return true;
            } else {
                fail(QStringLiteral("объявление DTD не допускается"));
            }
        } else if (second == '?') {
            const qsizetype end = findSequence("?>", 2);
            if (end < 0)
                fail(QStringLiteral("незакрытая инструкция"));
            m_pos += end + 2;
        } else {
            // A tag ends at the first '>' outside quotes.
            qsizetype end = 0;
            qsizetype scanned = 1;
            char quote = 0;
            for (;;) {
                end = find('>', end + 1);
                if (end < 0)
                    fail(QStringLiteral("документ обрывается"));
                const char* tag = m_buffer.constData() + m_pos;
                for (; scanned < end; ++scanned) {
                    const char c = tag[scanned];
                    if (quote) {
                        if (c == quote)
                            quote = 0;
                    } else if (c == '"' || c == '\'') {
                        quote = c;
                    } else if (c == '<') {
                        fail(QStringLiteral("неверный тег"));
                    }
                }
                if (!quote)
                    break;
                ++scanned; // the '>' inside a quoted value
            }
            if (m_buffer.at(m_pos + 1) == '/')
                endTag(end);
            else
                startTag(end);
            m_pos += end + 1;
            return true;
        }
    }
}

void FastXml::startTag(qsizetype end)
{
    const char* tag = m_buffer.constData() + m_pos + 1;
    qsizetype length = end - 1;
    const bool selfClosing = length > 0 && tag[length - 1] == '/';
    if (selfClosing)
        --length;
    qsizetype nameLength = 0;
    while (nameLength < length && !isSpace(tag[nameLength]))
        ++nameLength;
    if (nameLength == 0)
        fail(QStringLiteral("тег без имени"));
    if (m_open.empty() && m_seenRoot)
        fail(QStringLiteral("второй корневой элемент"));
    if (static_cast<int>(m_open.size()) >= WorkbookLimits::MaxXmlDepth)
        fail(QStringLiteral("вложенность глубже %1").arg(WorkbookLimits::MaxXmlDepth));
    m_seenRoot = true;
    const QByteArrayView qualified(tag, nameLength);
    m_open.emplace_back(qualified.data(), static_cast<size_t>(qualified.size()));
    m_name = localName(qualified);
    m_attributes = QByteArrayView(tag + nameLength, length - nameLength);
    m_token = Start;
    m_pendingEnd = selfClosing;
}

void FastXml::endTag(qsizetype end)
{
    const char* tag = m_buffer.constData() + m_pos + 2;
    qsizetype length = end - 2;
    while (length > 0 && isSpace(tag[length - 1]))
        --length;
    const QByteArrayView qualified(tag, length);
    if (m_open.empty() ||
        !same(QByteArrayView(m_open.back().data(), static_cast<qsizetype>(m_open.back().size())), qualified))
        fail(QStringLiteral("закрывающий тег </%1> не на месте")
                 .arg(QString::fromUtf8(qualified.first(std::min<qsizetype>(40, qualified.size())))));
    m_open.pop_back();
    m_name = localName(qualified);
    m_token = End;
}

QByteArrayView FastXml::attribute(QByteArrayView name) const
{
    return findAttribute(name, false);
}

QByteArrayView FastXml::qualifiedAttribute(QByteArrayView qualifiedName) const
{
    return findAttribute(qualifiedName, true);
}

QString FastXml::decoded(QByteArrayView raw) const
{
    QString text;
    appendReferences(text, raw);
    return text;
}

bool FastXml::nextAttribute(qsizetype& i, QByteArrayView& name, QByteArrayView& value) const
{
    const QByteArrayView all = m_attributes;
    while (i < all.size() && isSpace(all[i]))
        ++i;
    const qsizetype nameStart = i;
    while (i < all.size() && all[i] != '=' && !isSpace(all[i]))
        ++i;
    name = all.sliced(nameStart, i - nameStart);
    while (i < all.size() && (isSpace(all[i]) || all[i] == '='))
        ++i;
    if (i >= all.size() || (all[i] != '"' && all[i] != '\''))
        return false;
    const char quote = all[i++];
    const qsizetype valueStart = i;
    while (i < all.size() && all[i] != quote)
        ++i;
    value = all.sliced(valueStart, i - valueStart);
    ++i;
    return true;
}

QByteArrayView FastXml::findAttribute(QByteArrayView name, bool qualified) const
{
    const QByteArrayView all = m_attributes;
    qsizetype i = 0;
    while (i < all.size()) {
        while (i < all.size() && isSpace(all[i]))
            ++i;
        const qsizetype nameStart = i;
        while (i < all.size() && all[i] != '=' && !isSpace(all[i]))
            ++i;
        const QByteArrayView attributeName = all.sliced(nameStart, i - nameStart);
        while (i < all.size() && (isSpace(all[i]) || all[i] == '='))
            ++i;
        if (i >= all.size() || (all[i] != '"' && all[i] != '\''))
            return {};
        const char quote = all[i++];
        const qsizetype valueStart = i;
        while (i < all.size() && all[i] != quote)
            ++i;
        if (same(qualified ? attributeName : localName(attributeName), name))
            return all.sliced(valueStart, i - valueStart);
        ++i;
    }
    return {};
}

void FastXml::appendUtf8(QString& text, QByteArrayView raw) const
{
    const qsizetype old = text.size();
    text.resize(old + raw.size());
    QChar* end = m_utf8.appendToBuffer(text.data() + old, raw);
    // XML reads every line end (CR LF, CR) as LF; a CR given as &#13; stays.
    QChar* const begin = text.data() + old;
    if (std::find(begin, end, QLatin1Char('\r')) != end) {
        QChar* out = begin;
        for (QChar* in = begin; in < end; ++in) {
            if (*in == u'\r') {
                *out++ = QLatin1Char('\n');
                if (in + 1 < end && in[1] == u'\n')
                    ++in;
            } else {
                *out++ = *in;
            }
        }
        end = out;
    }
    text.resize(end - text.constData());
}

void FastXml::appendDecoded(QString& text, QByteArrayView raw) const
{
    if (m_textIsCdata) {
        appendUtf8(text, raw);
        return;
    }
    appendReferences(text, raw);
}

void FastXml::appendReferences(QString& text, QByteArrayView raw) const
{
    qsizetype from = 0;
    for (;;) {
        const qsizetype amp = raw.indexOf('&', from);
        appendUtf8(text, raw.sliced(from, (amp < 0 ? raw.size() : amp) - from));
        if (amp < 0)
            return;
        const qsizetype semicolon = raw.indexOf(';', amp);
        if (semicolon < 0 || semicolon - amp > 12)
            fail(QStringLiteral("неверная ссылка на символ"));
        const QByteArrayView entity = raw.sliced(amp + 1, semicolon - amp - 1);
        if (entity == "lt")
            text.append(QLatin1Char('<'));
        else if (entity == "gt")
            text.append(QLatin1Char('>'));
        else if (entity == "amp")
            text.append(QLatin1Char('&'));
        else if (entity == "quot")
            text.append(QLatin1Char('"'));
        else if (entity == "apos")
            text.append(QLatin1Char('\''));
        else if (entity.startsWith('#')) {
            bool ok = false;
            const uint code = entity.startsWith("#x") ? entity.sliced(2).toByteArray().toUInt(&ok, 16)
                                                      : entity.sliced(1).toByteArray().toUInt(&ok, 10);
            if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                fail(QStringLiteral("неверная ссылка на символ"));
            const char32_t ucs4 = code;
            text.append(QString::fromUcs4(&ucs4, 1));
        } else {
            fail(QStringLiteral("неизвестная сущность &%1;").arg(QString::fromUtf8(entity)));
        }
        from = semicolon + 1;
    }
}

void FastXml::appendElementText(QString& text)
{
    const int level = depth();
    while (next()) {
        if (m_token == Text)
            appendDecoded(text, m_text);
        else if (m_token == End && depth() < level)
            return;
    }
}

void FastXml::skipElement()
{
    const int level = depth();
    while (next()) {
        if (m_token == End && depth() < level)
            return;
    }
}
