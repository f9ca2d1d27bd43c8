#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <string>
#include <vector>

class QIODevice;
class ZipArchive;

// A small pull parser for the two big parts of an xlsx file (the sheet and its
// shared strings), which can run to tens of megabytes: QXmlStreamReader reads
// them at about a tenth of the speed. It reads UTF-8 in chunks from a device,
// checks that tags balance, resolves the predefined and numeric character
// references, reads CDATA, skips comments and processing instructions, and
// refuses a DTD. Names are compared without their namespace prefix.
class FastXml
{
public:
    enum Token { None, Start, End, Text };

    FastXml(QIODevice* device, const QString& part, const ZipArchive* archive = nullptr);

    // Next start tag, end tag or text; false at the end of the document.
    bool next();
    Token token() const { return m_token; }
    bool isStart(QByteArrayView name) const { return m_token == Start && same(m_name, name); }
    bool isName(QByteArrayView name) const { return same(m_name, name); }
    // Byte equality without a library call: the names compared here are a few bytes long.
    static bool same(QByteArrayView a, QByteArrayView b)
    {
        if (a.size() != b.size())
            return false;
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a.data()[i] != b.data()[i])
                return false;
        }
        return true;
    }
    bool isEnd() const { return m_token == End; }
    int depth() const { return static_cast<int>(m_open.size()); }
    QByteArrayView name() const { return m_name; }
    // The raw value of an attribute of the current start tag (without
    // references resolved: the attributes read here are names and numbers).
    QByteArrayView attribute(QByteArrayView name) const;
    // Appends the text of the current element and its children, leaving the
    // parser on the element's end tag.
    void appendElementText(QString& text);
    void skipElement();

    [[noreturn]] void fail(const QString& reason) const;

private:
    bool fill(qsizetype needed);
    qsizetype find(char c, qsizetype from);
    qsizetype findSequence(QByteArrayView sequence, qsizetype from);
    void startTag(qsizetype end);
    void endTag(qsizetype end);
    void appendDecoded(QString& text, QByteArrayView raw) const;
    void appendUtf8(QString& text, QByteArrayView raw) const;

    QIODevice* m_device;
    QString m_part;
    const ZipArchive* m_archive;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    Token m_token = None;
    QByteArrayView m_name;
    QByteArrayView m_attributes;
    QByteArrayView m_text;
    bool m_textIsCdata = false;
    bool m_pendingEnd = false; // the end of a self-closing tag is still to come
    bool m_seenRoot = false;
    std::vector<std::string> m_open;
    mutable QStringDecoder m_utf8{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
};
