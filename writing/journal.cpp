#include "writing/journal.h"

#include "writing/durablefile.h"

#include <QFile>
#include <QFileInfo>

namespace {

const char* const OutcomeNames[] = {"sent", "written", "not written", "no verdict", "unanswered at stop",
                                    "refused", "dropped"};

// RFC 4180: a field with a comma, a quote or a line break is quoted, quotes doubled.
QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

// Splits a journal file into records of fields, quotes and doubled quotes undone.
QList<QStringList> csvRecords(const QString& text)
{
    QList<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields.append(std::exchange(field, {}));
        } else if (c == QLatin1Char('\n')) {
            fields.append(std::exchange(field, {}));
            records.append(std::exchange(fields, {}));
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    return records; // a last line without its line end was being written: it does not count
}

} // namespace

Journal::Journal(QString path, Clock clock) : m_path(std::move(path)), m_clock(std::move(clock))
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
    const QStringList fields{e.time.toOffsetFromUtc(e.time.offsetFromUtc()).toString(Qt::ISODateWithMs),
                             QString::number(e.run),
                             QString::number(e.card),
                             csvField(e.texts.track1),
                             csvField(e.texts.track2),
                             csvField(e.texts.track3),
                             outcomeName(e.outcome),
                             csvField(e.note),
                             csvField(e.job)};
    return fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

void Journal::append(Entry entry)
{
    if (!entry.time.isValid())
        entry.time = m_clock();
    if (entry.job.isEmpty())
        entry.job = m_job;
    if (!m_file) {
        const QFileInfo info(m_path);
        const bool fresh = !info.exists() || info.size() == 0;
        m_file = std::make_unique<DurableAppender>(m_path);
        if (fresh)
            m_file->append(header().toUtf8() + "\r\n");
    }
    m_file->append(line(entry));
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
    QList<Entry> entries;
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QList<QStringList> records = csvRecords(QString::fromUtf8(file.readAll()));
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
