#include "writing/readsfile.h"

#include "writing/csvfield.h"

#include "link/error.h"
#include "writing/durablefile.h"

#include <QFileInfo>
#include <QStringList>

ReadsFile::ReadsFile(QString path, Clock clock) : m_path(std::move(path)), m_clock(std::move(clock))
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
    const QStringList fields{r.time.toOffsetFromUtc(r.time.offsetFromUtc()).toString(Qt::ISODateWithMs),
                             csvField(r.trackChoice),
                             csvField(r.track1),
                             csvField(r.track2),
                             csvField(r.track3),
                             csvField(r.verification)};
    return fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QString ReadsFile::append(Read read)
{
    if (!read.time.isValid())
        read.time = m_clock();
    try {
        if (!m_file) {
            const QFileInfo info(m_path);
            const bool fresh = !info.exists() || info.size() == 0;
            m_file = std::make_unique<DurableAppender>(m_path);
            if (fresh)
                m_file->append(header().toUtf8() + "\r\n");
        }
        m_file->append(line(read));
    } catch (const Failure& failure) {
        // Opened again at the next card, so that a disk with room again is used.
        m_file.reset();
        const bool told = m_failing;
        m_failing = true;
        return told
                   ? QString()
                   : QStringLiteral("Прочитанные карточки не сохраняются: %1 Чтение продолжается.").arg(failure.text());
    }
    m_failing = false;
    return {};
}
