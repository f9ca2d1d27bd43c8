#pragma once

#include <QString>
#include <QXmlStreamReader>

class ZipArchive;

// QXmlStreamReader with the bounds an untrusted part needs: no DTD (hence no
// entity expansion), a nesting limit, and errors turned into Failure naming the
// part. A device that stopped at an archive bound is reported as too big.
class BoundedXml
{
public:
    BoundedXml(QIODevice* device, const QString& part, const ZipArchive* archive = nullptr);

    // Next token; throws on malformed XML or a bound. False at the end of the document.
    bool next();
    QXmlStreamReader::TokenType token() const { return m_token; }
    bool isStart() const { return m_token == QXmlStreamReader::StartElement; }
    bool isEnd() const { return m_token == QXmlStreamReader::EndElement; }
    bool isStart(QStringView name) const { return isStart() && m_reader.name() == name; }
    bool isEnd(QStringView name) const { return isEnd() && m_reader.name() == name; }
    int depth() const { return m_depth; }
    QStringView name() const { return m_reader.name(); }
    QStringView text() const { return m_reader.text(); }
    QXmlStreamAttributes attributes() const { return m_reader.attributes(); }

    // Consumes the rest of the current element (just read as a start tag).
    void skipElement();
    // Appends the character data of the current element and its children to
    // text, leaving the reader on its end tag.
    void appendElementText(QString& text);

    [[noreturn]] void fail(const QString& reason) const;

private:
    QXmlStreamReader m_reader;
    QString m_part;
    const ZipArchive* m_archive;
    QXmlStreamReader::TokenType m_token = QXmlStreamReader::NoToken;
    int m_depth = 0;
};
