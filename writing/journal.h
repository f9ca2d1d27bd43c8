#pragma once

#include "writing/cardtexts.h"
#include "writing/csvlog.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>

// The record of every card attempt, kept across runs and restarts: one CSV line
// (UTF-8, a header line first) per event, each on disk before the next card is
// composed, so a crash or a power cut loses at most the line being written.
//
// A card's frame is journalled as "sent" before it goes out; its verdict, or
// what became of it, follows as a line of its own. A "sent" line with nothing
// after it for that card is a card that was in flight when the program ended.
class Journal
{
public:
    enum class Outcome {
        Sent,             // the frame is about to go out
        Written,          // answered "written"
        NotWritten,       // answered "not written": it goes again
        NoVerdict,        // an answer that says neither: it goes again
        UnansweredAtStop, // the run stopped before its answer came
        Refused,          // not sent: a text its track cannot hold, or no data for it
        Dropped,          // a card left without an answer that the operator chose not to send again
    };
    // The outcome column's words, in the order of Outcome.
    static constexpr std::array<const char*, 7> OutcomeNames = {
        "sent", "written", "not written", "no verdict", "unanswered at stop", "refused", "dropped"};

    struct Entry
    {
        QDateTime time;
        int run = 0;
        int card = 0; // the card's number in its run, as the write tab's log shows it
        CardTexts texts;
        Outcome outcome = Outcome::Sent;
        QString note;
        QString job; // the job file the card was made from; empty in lines older than the column
    };

    using Clock = std::function<QDateTime()>;

    explicit Journal(QString path, Clock clock = {});
    ~Journal();

    const QString& path() const { return m_path; }
    // The open job's file, as the pointer to the last job names it: every line
    // appended from now on carries it, so that a card can be told by its job.
    void setJob(QString job) { m_job = std::move(job); }
    // Appends one line and syncs it. Throws Failure; the file keeps whole lines only.
    void append(Entry entry);
    // The number for a new run: one more than the last run the file holds.
    int nextRun() const;

    static QString header();
    static QString outcomeName(Outcome outcome);
    static QByteArray line(const Entry& entry);
    // Every entry of a journal file; lines that do not read are passed over.
    static QList<Entry> read(const QString& path);
    // The file's last entry that reads, from its tail only (a journal may hold
    // millions of lines); none when the file is missing or holds none.
    static std::optional<Entry> last(const QString& path);

private:
    static QList<Entry> entriesOf(const QByteArray& bytes);
    static QStringList fields(const Entry& entry);

    QString m_path;
    QString m_job;
    Clock m_clock;
    CsvLog m_log;
};
