#pragma once

#include "excel/texcelapplication.h"
#include "link/sleeper.h"
#include "writing/handedcards.h"
#include "writing/job.h"
#include "writing/journal.h"
#include "writing/tracktemplate.h"
#include "writing/writeloop.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class CellSource;
class ComPort;

// A batch of cards as the operator works on it: the templates, the workbook
// their worksheet slots read, the track choice, the write loop with the card in
// flight, the open job and the journal. No widget: the windows read their
// controls, call it, and show what it returns or signals. A test drives it alone.
//
// The job is saved as it advances: after each edit of the templates or the
// workbook, as each card goes out and as each is written.
class BatchSession : public QObject
{
    Q_OBJECT

public:
    // What the window shows in a message box after a job step.
    struct Notice
    {
        enum class Kind {
            Warning, // "Внимание!"
            Failure, // "Ошибка"
            Error,   // the common error report
        };
        Kind kind = Kind::Warning;
        QString text;
    };

    BatchSession(ComPort& port, Sleeper sleeper, QObject* parent = nullptr);
    ~BatchSession() override;

    // The folder of the job never given a name, the file that names the last job,
    // and the journal: config.rwc's. Empty: the working directory.
    void setWorkDir(const QString& dir) { m_workDir = dir; }
    QString workDir() const;

    // The templates. CurrentTrack is the composer's track, which composing keeps.
    const TemplateSet& templates() const { return m_templates; }
    void setComposerTrack(int track) { m_templates.CurrentTrack = quint8(track); }
    // Add and Delete of the composer. What Add did before a cell read threw stays
    // done (and is saved); the error then propagates.
    AddOutcome addSlot(int track, int slot, const AddRequest& request);
    void deleteSlot(int track, int slot);

    // The workbook the worksheet slots read ("База Excel"). Its file is read off
    // the window's thread: chooseWorkbook returns at once (an empty path drops the
    // workbook), and workbookSettled follows once the file is read, with
    // workbookNotOpened (jobNotice for a job's book) first when it did not open. Whatever
    // needs its cells before that (Add, a card, the pre-flight) waits for the read.
    TExcelApplication& workbook() { return m_workbook; }
    const TExcelApplication& workbook() const { return m_workbook; }
    void chooseWorkbook(const QString& path);
    // Ends an opening whose file has been read, or with `wait` waits for it.
    // False while the file is still being read.
    bool settleWorkbook(bool wait = false);
    // The write tick's look at the workbook: one check of its file, and whether
    // its cells can be read now without waiting for a read of it.
    bool workbookReady();
    // Where worksheet slots are read; null means the workbook. For tests.
    void setCellSource(CellSource* source) { m_cellSource = source; }

    // The next card of a track choice composed on a copy of the templates;
    // `commit` makes it the templates and signals cardCommitted. Throws Failure
    // and changes nothing when the card cannot be composed.
    StagedCard stageCard(int choice);
    // Where the write loop takes new cards from; stageCard when empty. For tests.
    void setComposer(Composer compose) { m_composer = std::move(compose); }

    // The track choice, 0 "Track 1" .. 5 "Track 1 & 2 & 3".
    int trackChoice() const { return m_trackChoice; }
    void setTrackChoice(int choice);

    // The run of cards. Before "Записать": the question to put to the operator
    // when the card in flight was made for other tracks or before the templates
    // were changed (empty when there is nothing to ask).
    QString pendingCardQuestion() const;
    // "Записать": sends the write start command. `sendPending` false drops the
    // card in flight. Returns the log line that records the decision, if any.
    QString startRun(bool sendPending = true);
    // One 500 ms step on the texts in hand. When the step stops the run, the stop
    // command has gone and the lines of the stop are in the result.
    WriteLoop::Tick tick(const CardTexts& inHand);
    // Cancel, a track change, leaving the tab, a pulled port, a job change.
    WriteLoop::Tick stopRun() { return m_loop.stop(); }
    const WriteLoop& writeLoop() const { return m_loop; }

    // The batch's size ("Карточек в партии:"), kept with the job: 0 unsized.
    int batchSize() const { return m_loop.batchSize(); }
    // Its cards answered "written", across runs and restarts.
    int batchWritten() const { return m_loop.batchWritten(); }
    // The cards still to write in a sized batch; 0 when unsized.
    int cardsLeftInBatch() const;
    // The size as typed: empty or 0 unsized, else a whole number up to
    // Job::MaxBatchSize and not below the cards already written (a larger one
    // lets a finished batch go on). True when taken, and the job is saved.
    bool setBatchSize(const QString& typed);
    // Why `typed` is not taken, for the log.
    QString batchSizeRefusal(const QString& typed) const;
    // "Партия записана: N карточек." once a sized batch is finished; else empty.
    QString batchDoneMessage() const;

    // A shared batch joined ("Подключиться к партии…"): kept with the job; while
    // joined, new cards come from the cards handed over, in the batch's track
    // choice, and the database (not the job) keeps this station's card in flight.
    const std::optional<Job::Shared>& shared() const { return m_shared; }
    // Throws Failure when the connection holds a password, or the job cannot be saved.
    void joinShared(const Job::Shared& shared, int trackChoice);
    void leaveShared();
    // Where the cards of the joined batch come from (the window's database link); null: none yet.
    void setHandedCards(HandedCards* cards);

    // The job.
    JobSession& job();
    Journal& journal();
    // The open job's file as the journal names it: relative to the working
    // directory when inside it, as lastjob.txt names it; empty when none.
    QString openJobName();
    // Writes the open job as it stands, with the card in flight. Nothing is
    // written before the job has been read or made. Throws Failure.
    void saveJob();
    // The job the last run left, at start.
    QList<Notice> reopenJob();
    // "Открыть задание…" for a job already read: it becomes the open job.
    // Throws Failure when the file that names the last job cannot be written.
    QList<Notice> openJob(const Job& job, const QString& path);
    // "Новое задание": an empty job as the job never given a name; one already
    // there is renamed, not overwritten. Throws Failure.
    void newJob();
    // "Сохранить задание как…": ".swj" is added to a name without extension. Throws Failure.
    void saveJobAs(QString path);
    // Where the job file dialogs open.
    QString jobFolder();

Q_SIGNALS:
    // The templates were replaced by a job's: the composer shows them.
    void templatesReplaced();
    // The operator edited the templates or the workbook (Add, Delete, a workbook chosen or dropped).
    void templatesEdited();
    // A card went out and the templates moved past it, the last track composed
    // with this digit count: the composer shows the slots advanced.
    void cardCommitted(int digitCount);
    void trackChoiceChanged(int choice);
    // A shared batch was joined or left (or came with a job opened).
    void sharedChanged();
    // A job was opened (or reopened at start) with this track choice: the
    // window ticks its track boxes for it.
    void jobOpened(int trackChoice);
    // Saving the job after an edit failed; the edit stays.
    void saveFailed(const QString& text);
    // A workbook file is being read, and then it has been (open or not).
    void workbookOpening();
    void workbookSettled();
    // The workbook the operator chose did not open (none is open now).
    void workbookNotOpened(const QString& text);
    // What to tell the operator of a job's workbook that did not open.
    void jobNotice(const BatchSession::Notice& notice);

private:
    void edited();
    StagedCard handedCard();
    QList<Notice> applyJob(const Job& job, const QString& path);
    bool answeredWritten(const CardTexts& inFlight);
    CellSource& cells();
    void startOpening(const QString& path, std::optional<QString> jobWorkbook);
    void dropWorkbook();

    ComPort& m_port;
    WriteLoop m_loop;
    TemplateSet m_templates;
    TExcelApplication m_workbook;
    CellSource* m_cellSource = nullptr;
    Composer m_composer;
    std::optional<Job::Shared> m_shared;
    HandedCards* m_handed = nullptr;
    int m_trackChoice = 0;
    QString m_workDir;
    std::unique_ptr<JobSession> m_job;
    bool m_jobReady = false; // nothing is saved before the open job has been read
    std::unique_ptr<Journal> m_journal;
    int m_templateVersion = 0; // edits so far: a card in flight made before one is asked about
    // A workbook being opened; for a job's, the name the job gives it.
    struct Opening
    {
        std::optional<QString> jobWorkbook;
    };
    std::optional<Opening> m_opening;
    QTimer m_openingPoll;
};
