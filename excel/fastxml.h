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
    // The same by the name as written, prefix and all ("office:value-type"),
    // where two namespaces use one local name.
    QByteArrayView qualifiedAttribute(QByteArrayView qualifiedName) const;
    // Every attribute of the current start tag, name as written and raw value, in one pass.
    template <typename Visit> void forEachAttribute(Visit visit) const
    {
        qsizetype at = 0;
        QByteArrayView name;
        QByteArrayView value;
        while (nextAttribute(at, name, value))
            visit(name, value);
    }
    // A raw attribute value or the current text token with its references resolved.
    QString decoded(QByteArrayView raw) const;
    void appendText(QString& text) const { appendDecoded(text, m_text); }
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
    void appendReferences(QString& text, QByteArrayView raw) const;
    QByteArrayView findAttribute(QByteArrayView name, bool qualified) const;
    bool nextAttribute(qsizetype& at, QByteArrayView& name, QByteArrayView& value) const;
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
