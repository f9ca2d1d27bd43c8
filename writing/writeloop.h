#pragma once

#include "link/sleeper.h"
#include "writing/journal.h"
#include "writing/writetrack.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ComPort;

// The state of a run of cards on the write tab and its 500 ms step. It owns
// no widgets: the main window passes the texts of its track edits in and shows
// what a step returns. A verdict is taken only from a whole four-byte answer
// that came after this card's ESC 'j', however many reads it took to arrive.
//
// No card is lost or repeated unseen: a card that went out stays the card in
// flight until the terminal answers "written". A run stopped before that names
// it in the log and the journal, and the next run sends it first; the program
// keeps it with the job, so a restart does the same.
//
// A sized batch counts its own cards, across runs and restarts (the program
// keeps the count with the job), and stops the run once the last is written.
class WriteLoop
{
public:
    using StagedCard = ::StagedCard;
    using Composer = ::Composer;

    // A card that went out and has not been answered "written".
    struct SentCard
    {
        int choice = 0;
        CardTexts texts;
        int templateVersion = 0; // the composer's edit count when it was composed
    };
    // Called with the card about to go out (its template already moved past it)
    // and with nothing once it is written or dropped: the program keeps its job
    // there. An error it throws stops the card going out.
    using Persist = std::function<void(const std::optional<SentCard>&)>;
    // Told every verdict on a card that went out ("written" or not, with the
    // journal's note), beside the journal: a shared batch's database hears of
    // it there. An error it throws stops the run with the common error report.
    using Verdicts = std::function<void(bool written, const QString& note)>;

    WriteLoop(ComPort& port, Sleeper sleeper);

    void setJournal(Journal* journal) { m_journal = journal; }
    void setPersist(Persist persist) { m_persist = std::move(persist); }
    void setVerdicts(Verdicts verdicts) { m_verdicts = std::move(verdicts); }
    // Added to the note of every journal line (a shared batch's name and station); empty: nothing.
    void setJournalTag(const QString& tag) { m_journalTag = tag; }

    // The card in flight that an earlier run (or an earlier start of the program) left.
    const std::optional<SentCard>& pendingCard() const { return m_unconfirmed; }
    // The card in flight of a job opened (or reopened at start); a job's own, so
    // another job's card never goes out in its batch.
    void restorePendingCard(const std::optional<SentCard>& card) { m_unconfirmed = card; }
    // The operator chose not to send the pending card again. Returns the log line.
    QString dropPendingCard();

    // "Записать": write start command, count 0, a card due at the first step: the
    // card in flight, when there is one, otherwise a new one.
    void start();

    // What the window shows after one step.
    struct Tick
    {
        enum class Stop {
            None,
            OverLong,
            Refused,   // a card that must not go out: shown in an "Ошибка" box
            Failed,    // composing or recording failed: the common error report
            BatchDone, // the sized batch's last card was written: a box says so
        };
        Stop stop = Stop::None;
        QStringList logLines;
        std::optional<QString> countLabel;
        std::optional<CardTexts> newTexts; // for Edit1 .. Edit3
        QString error;                     // with Refused, Failed and BatchDone: the box's text
    };
    // One step. On a stop the run is over; the window disables its timer and
    // calls stop() to send the stop command. Does nothing while no run is going on.
    Tick tick(int choice, const CardTexts& inHand, const Composer& compose, int templateVersion = 0);

    // Ends the run (cancel, a stop of a step, a track box change, leaving the tab):
    // judges an answer that has already come, names a card still unanswered, then
    // sends the stop command. Count and flags keep their values.
    Tick stop();

    bool running() const { return m_running; }
    bool generateNext() const { return m_generateNext; }
    int cardsWritten() const { return m_cardsWritten; }
    int run() const { return m_run; }

    // A sized batch of `size` cards with `written` of them written; size 0:
    // unsized, the run goes on until the data ends or "Отмена".
    void setBatch(int size, int written);
    int batchSize() const { return m_batchSize; }
    int batchWritten() const { return m_batchWritten; }
    bool batchDone() const { return m_batchSize > 0 && m_batchWritten >= m_batchSize; }
    // The count label as a run starts: the batch's count, or the run's empty one.
    QString countLabelNow() const;

    static QString countLabelAtStart();
    static QString countLabel(int cardsWritten);
    static QString countLabel(int written, int size); // "Записано карточек: 12 из 500"
    static QString batchDoneMessage(int cards);       // "Партия записана: 500 карточек."
    static QString noVerdictLine();                   // after the card's number
    static QString unansweredAtStopLine();            // after the card's number
    static QString sentAgainLine();                   // after the card's number
    static QString overLongMessage();

private:
    WriteResult send(int choice, const CardTexts& inHand, const Composer& compose, int templateVersion, Tick& out);
    std::function<void(const CardTexts&)> recordSending(int choice, int templateVersion);
    void takeAnswerBytes(const QByteArray& bytes);
    void judgeAnswer(Tick& out);
    void journal(Journal::Outcome outcome, const CardTexts& texts, const QString& note = {});
    void tell(bool written, const QString& note);
    void recordSafely(Tick& out, const std::function<void()>& record);
    bool stopWhenBatchDone(Tick& out);

    ComPort& m_port;
    Sleeper m_sleeper;
    Journal* m_journal = nullptr;
    Persist m_persist;
    Verdicts m_verdicts;
    QString m_journalTag;
    bool m_running = false;
    bool m_generateNext = false;
    bool m_sendDue = false;
    bool m_awaitingAnswer = false; // a card went out and has had no verdict yet
    int m_cardsWritten = 0;
    int m_run = 0;
    int m_batchSize = 0;
    int m_batchWritten = 0;
    QByteArray m_answer; // the answer to the last card sent, from its ESC on

    std::optional<SentCard> m_unconfirmed;
    bool m_resendUnconfirmed = false;
};
