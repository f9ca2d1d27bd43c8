#include "writing/readsfile.h"

#include "writing/csvfield.h"

#include "base/error.h"

#include <QStringList>

ReadsFile::ReadsFile(QString path, Clock clock)
    : m_path(std::move(path)), m_clock(std::move(clock)), m_log(m_path, header())
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentDateTime(); };
}

ReadsFile::~ReadsFile() = default;

QString ReadsFile::header()
{
    return QStringLiteral("time,tracks,track1,track2,track3,verification");
}

QString ReadsFile::csvField(const QString& text)
{
    return CsvField::encode(text);
}

QString ReadsFile::fieldText(const QString& field)
{
    // Every field that carries the apostrophe was written in quotes.
    return CsvField::decode(field, true);
}

QByteArray ReadsFile::line(const Read& r)
{
    return CsvLog::line(fields(r));
}

QStringList ReadsFile::fields(const Read& r)
{
    return {r.time.toOffsetFromUtc(r.time.offsetFromUtc()).toString(Qt::ISODateWithMs),
            csvField(r.trackChoice),
            csvField(r.track1),
            csvField(r.track2),
            csvField(r.track3),
            csvField(r.verification)};
}

QString ReadsFile::append(Read read)
{
    if (!read.time.isValid())
        read.time = m_clock();
    try {
        m_log.append(fields(read));
    } catch (const Failure& failure) {
        // Opened again at the next card, so that a disk with room again is used.
        m_log.close();
        const bool told = m_failing;
        m_failing = true;
        return told
                   ? QString()
                   : QStringLiteral("Прочитанные карточки не сохраняются: %1 Чтение продолжается.").arg(failure.text());
    }
    m_failing = false;
    return {};
}
