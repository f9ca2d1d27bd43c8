#include "writing/journal.h"

#include "writing/csvfield.h"

#include <QFile>

Journal::Journal(QString path, Clock clock)
    : m_path(std::move(path)), m_clock(std::move(clock)), m_log(m_path, header())
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentDateTime(); };
}

Journal::~Journal() = default;

QString Journal::header()
{
    return QStringLiteral("time,run,card,track1,track2,track3,outcome,note,job");
}

QString Journal::outcomeName(Outcome outcome)
{
    return QString::fromLatin1(OutcomeNames[int(outcome)]);
}

QByteArray Journal::line(const Entry& e)
{
    return CsvLog::line(fields(e));
}

QStringList Journal::fields(const Entry& e)
{
    return {e.time.toOffsetFromUtc(e.time.offsetFromUtc()).toString(Qt::ISODateWithMs),
            QString::number(e.run),
            QString::number(e.card),
            CsvField::encode(e.texts.track1),
            CsvField::encode(e.texts.track2),
            CsvField::encode(e.texts.track3),
            outcomeName(e.outcome),
            CsvField::encode(e.note),
            CsvField::encode(e.job)};
}

void Journal::append(Entry entry)
{
    if (!entry.time.isValid())
        entry.time = m_clock();
    if (entry.job.isEmpty())
        entry.job = m_job;
    m_log.append(fields(entry));
}

int Journal::nextRun() const
{
    int last = 0;
    for (const Entry& e : read(m_path))
        last = std::max(last, e.run);
    return last + 1;
}

QList<Journal::Entry> Journal::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return entriesOf(file.readAll());
}

std::optional<Journal::Entry> Journal::last(const QString& path)
{
    // Far more than the longest line; the tail starts at the first whole line in it.
    constexpr qint64 Tail = 64 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 from = std::max<qint64>(0, file.size() - Tail);
    if (!file.seek(from))
        return std::nullopt;
    QByteArray tail = file.readAll();
    if (from > 0)
        tail.remove(0, tail.indexOf('\n') + 1);
    const QList<Entry> entries = entriesOf(tail);
    if (entries.isEmpty())
        return std::nullopt;
    return entries.last();
}

QList<Journal::Entry> Journal::entriesOf(const QByteArray& bytes)
{
    QList<Entry> entries;
    const QList<QStringList> records = CsvField::records(QString::fromUtf8(bytes));
    for (const QStringList& r : records) {
        // Lines written before the job column have eight fields.
        if ((r.size() != 8 && r.size() != 9) || r[0] == QLatin1String("time"))
            continue;
        Entry e;
        e.time = QDateTime::fromString(r[0], Qt::ISODateWithMs);
        bool runOk = false, cardOk = false;
        e.run = r[1].toInt(&runOk);
        e.card = r[2].toInt(&cardOk);
        e.texts = {r[3], r[4], r[5]};
        int outcome = -1;
        for (int k = 0; k < int(std::size(OutcomeNames)); ++k) {
            if (r[6] == QLatin1String(OutcomeNames[k]))
                outcome = k;
        }
        e.note = r[7];
        if (r.size() == 9)
            e.job = r[8];
        if (!runOk || !cardOk || outcome < 0)
            continue;
        e.outcome = Outcome(outcome);
        entries.append(e);
    }
    return entries;
}
