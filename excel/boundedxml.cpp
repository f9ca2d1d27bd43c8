#include "excel/boundedxml.h"

#include "base/error.h"
#include "excel/workbooklimits.h"
#include "excel/ziparchive.h"

BoundedXml::BoundedXml(QIODevice* device, const QString& part, const ZipArchive* archive)
    : m_reader(device), m_part(part), m_archive(archive)
{
}

void BoundedXml::fail(const QString& reason) const
{
    throw Failure(QStringLiteral("файл повреждён (%1: %2)").arg(m_part, reason));
}

bool BoundedXml::next()
{
    m_token = m_reader.readNext();
    switch (m_token) {
    case QXmlStreamReader::Invalid:
        if (m_archive && m_archive->overrun())
            throw Failure(m_archive->overrunText());
        fail(QStringLiteral("строка %1: %2").arg(m_reader.lineNumber()).arg(m_reader.errorString()));
    case QXmlStreamReader::DTD:
        fail(QStringLiteral("объявление DTD не допускается"));
    case QXmlStreamReader::StartElement:
        if (++m_depth > WorkbookLimits::MaxXmlDepth)
            fail(QStringLiteral("вложенность глубже %1").arg(WorkbookLimits::MaxXmlDepth));
        return true;
    case QXmlStreamReader::EndElement:
        --m_depth;
        return true;
    case QXmlStreamReader::EndDocument:
        return false;
    default:
        return true;
    }
}

void BoundedXml::skipElement()
{
    const int level = m_depth;
    while (next()) {
        if (isEnd() && m_depth < level)
            return;
    }
}

void BoundedXml::appendElementText(QString& text)
{
    const int level = m_depth;
    while (next()) {
        if (m_token == QXmlStreamReader::Characters)
            text.append(m_reader.text());
        else if (isEnd() && m_depth < level)
            return;
    }
}
