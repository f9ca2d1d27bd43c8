#include "jobsamples.h"

#include "base/error.h"
#include "excel/workbooklimits.h"
#include "link/commandset.h"
#include "link/comport.h"
#include "writing/batchsession.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

using JobSamples::readFile;
using JobSamples::Workbook;
using JobSamples::writeFile;

namespace {

QStringList texts(const CardTexts& card)
{
    return {card.track1, card.track2, card.track3};
}

AddRequest text(const QString& t)
{
    AddRequest r;
    r.text = t;
    return r;
}

AddRequest counter(int kind, int start, int step, int digits)
{
    AddRequest r;
    r.kindItem = kind;
    r.counterStart = start;
    r.counterStep = step;
    r.digitCount = digits;
    return r;
}

AddRequest column(int column, int digits)
{
    AddRequest r;
    r.kindItem = 3;
    r.excelColumn = column;
    r.excelRow = 1; // the header row; the first card reads row 2
    r.digitCount = digits;
    return r;
}

// A program's batch in a working directory, with no window and no terminal.
struct Program
{
    explicit Program(const QString& dir)
    {
        session = std::make_unique<BatchSession>(port, Sleeper{});
        session->setWorkDir(dir);
        notices = session->reopenJob();
        // A job's workbook that does not open is told once its file has been read.
        QObject::connect(session.get(), &BatchSession::jobNotice,
                         [this](const BatchSession::Notice& notice) { notices.append(notice); });
    }

    ComPort port{SerialDeviceFactory{}};
    std::unique_ptr<BatchSession> session;
    QList<BatchSession::Notice> notices;
};

} // namespace

// The job as the batch session keeps it: what a fresh program finds, files it
// refuses, a new, opened and saved-as job.
class TestSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nextCardSurvivesARestart_data();
    void nextCardSurvivesARestart();
    void batchSizeAtTheBox_data();
    void batchSizeAtTheBox();
    void finishedBatchSendsNothing();
    void sharedBatchSendsOnlyHandedCards();
    void refusedAtStartIsKeptAside_data();
    void refusedAtStartIsKeptAside();
    void saveAsNewAndOpen();
    void jobChangeThatFailsChangesNothing();
    void workbookMovedOrMissing();
    void workbookIsReadWhileTheWindowGoesOn();
};

void TestSession::nextCardSurvivesARestart_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("written");   // cards answered "written" before the program ends
    QTest::addColumn<bool>("inFlight"); // one more card sent and not answered when it ends
    // That card's "written" reached the journal, and the program ended before the job let go of it.
    QTest::addColumn<bool>("journalledWritten");
    QTest::addColumn<int>("size"); // the batch's; 0 unsized
    QTest::newRow("track 1, nothing written") << 0 << 0 << false << false << 0;
    QTest::newRow("tracks 2 and 3, two written") << 4 << 2 << false << false << 0;
    QTest::newRow("all tracks, three written, a batch of 500") << 5 << 3 << false << false << 500;
    QTest::newRow("all tracks, a card in flight, a batch of 2") << 5 << 1 << true << false << 2;
    QTest::newRow("all tracks, written but still in the job") << 5 << 1 << true << true << 0;
    QTest::newRow("the batch's card written but still in the job") << 5 << 1 << true << true << 2;
}

// A job saved by one program composes, in a fresh program, the very card the
// first would have composed next; a card in flight goes out first, never skipped.
void TestSession::nextCardSurvivesARestart()
{
    QFETCH(int, choice);
    QFETCH(int, written);
    QFETCH(bool, inFlight);
    QFETCH(bool, journalledWritten);
    QFETCH(int, size);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(u"cards.csv"_s), Workbook));
    CardTexts sentFirst;
    QStringList expected;
    {
        Program first(dir.path());
        QVERIFY(first.notices.isEmpty());
        BatchSession& s = *first.session;
        s.setTrackChoice(choice);
        s.chooseWorkbook(dir.filePath(u"cards.csv"_s));
        s.addSlot(1, 0, text(u"b"_s));
        s.addSlot(1, 1, column(1, 1));
        s.addSlot(2, 0, counter(1, 1000, 1, 4));
        s.addSlot(2, 1, text(u"="_s));
        s.addSlot(2, 2, column(2, 4));
        s.addSlot(3, 0, counter(2, 500, 5, 3));
        QVERIFY(s.setBatchSize(size ? QString::number(size) : QString()));
        for (int card = 0; card < written; ++card) {
            s.stageCard(choice).commit();
            s.saveJob(); // what the write loop does on "written"
        }
        if (inFlight) {
            // The card goes out; no terminal answers before the program ends.
            s.startRun();
            const WriteLoop::Tick t = s.tick({});
            QVERIFY(t.newTexts);
            sentFirst = *t.newTexts;
            if (journalledWritten)
                s.journal().append({{}, 1, 1, sentFirst, Journal::Outcome::Written, {}});
        }
        expected = texts(s.stageCard(choice).texts);
        s.saveJob(); // at close
    }

    Program again(dir.path());
    QVERIFY2(again.notices.isEmpty(), qPrintable(again.notices.value(0).text));
    BatchSession& s = *again.session;
    QCOMPARE(texts(s.stageCard(choice).texts), expected);
    QCOMPARE(s.trackChoice(), choice);
    QVERIFY(s.workbook().AutoConnect);
    // The batch's count has a card only from the write loop's "written", and the
    // card caught up with the journal once: the job on file has it too.
    const int batchWritten = size > 0 && journalledWritten ? 1 : 0;
    QCOMPARE(s.batchSize(), size);
    QCOMPARE(s.batchWritten(), batchWritten);
    QCOMPARE(JobFile::read(dir.filePath(u"job.swj"_s)).job->batch.written, batchWritten);
    if (inFlight) {
        // The job caught up with its journal as it was opened.
        QCOMPARE(!JobFile::read(dir.filePath(u"job.swj"_s)).job->inFlight, journalledWritten);
        s.startRun();
        const WriteLoop::Tick t = s.tick({});
        QVERIFY(t.newTexts);
        if (journalledWritten) { // never encoded twice: the run goes on with the next card
            QCOMPARE(texts(*t.newTexts), expected);
        } else {
            QCOMPARE(*t.newTexts, sentFirst);
            QCOMPARE(t.logLines, QStringList{u"1"_s + WriteLoop::sentAgainLine()});
        }
    }
}

void TestSession::batchSizeAtTheBox_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("size");    // after: the batch had 8, 3 of them written
    QTest::addColumn<int>("written"); // after
    QTest::newRow("empty: unsized") << QString() << true << 0 << 0;
    QTest::newRow("0: unsized") << u"0"_s << true << 0 << 0;
    QTest::newRow("larger: the batch goes on") << u" 20 "_s << true << 20 << 3;
    QTest::newRow("the cards written: finished") << u"3"_s << true << 3 << 3;
    QTest::newRow("1048576") << u"1048576"_s << true << 1048576 << 3;
    QTest::newRow("below the cards written") << u"2"_s << false << 8 << 3;
    QTest::newRow("1048577") << u"1048577"_s << false << 8 << 3;
    QTest::newRow("far too large") << u"99999999999"_s << false << 8 << 3;
    QTest::newRow("negative") << u"-5"_s << false << 8 << 3;
    QTest::newRow("a fraction") << u"2.5"_s << false << 8 << 3;
    QTest::newRow("letters") << u"abc"_s << false << 8 << 3;
}

// "Карточек в партии:": a value taken is saved with the job; one refused
// changes nothing and says which values are taken.
void TestSession::batchSizeAtTheBox()
{
    QFETCH(QString, typed);
    QFETCH(bool, taken);
    QFETCH(int, size);
    QFETCH(int, written);
    QTemporaryDir dir;
    Job job;
    job.batch = {8, 3};
    JobFile::write(dir.filePath(u"job.swj"_s), job);
    Program p(dir.path());
    BatchSession& s = *p.session;
    QCOMPARE(s.cardsLeftInBatch(), 5);
    QCOMPARE(s.setBatchSize(typed), taken);
    QCOMPARE(s.batchSize(), size);
    QCOMPARE(s.batchWritten(), written);
    QCOMPARE(s.cardsLeftInBatch(), size - written);
    QCOMPARE(JobFile::read(dir.filePath(u"job.swj"_s)).job->batch, (Job::Batch{size, written}));
    QCOMPARE(s.batchDoneMessage().isEmpty(), size == 0 || size != written);
    if (!taken)
        QCOMPARE(s.batchSizeRefusal(typed), u"Карточек в партии: «%1» не принято, нужно целое число от 3 до 1048576 "
                                            "или пусто (без размера)"_s.arg(typed));
}

// A batch with all its cards written stops a run before a card goes out, and
// goes on once its size grows.
void TestSession::finishedBatchSendsNothing()
{
    QTemporaryDir dir;
    Job job;
    job.batch = {2, 2};
    JobFile::write(dir.filePath(u"job.swj"_s), job);
    Program p(dir.path());
    BatchSession& s = *p.session;
    s.setComposer([](int) { return StagedCard{{u"A"_s, u"1"_s, u"2"_s}, [] {}}; });
    QCOMPARE(s.batchDoneMessage(), u"Партия записана: 2 карточки."_s);
    s.startRun();
    const WriteLoop::Tick stopped = s.tick({});
    QCOMPARE(stopped.stop, WriteLoop::Tick::Stop::BatchDone);
    QCOMPARE(stopped.error, s.batchDoneMessage());
    QVERIFY(!stopped.newTexts);
    QVERIFY(Journal::read(s.journal().path()).isEmpty());

    QVERIFY(s.setBatchSize(u"3"_s));
    s.startRun();
    const WriteLoop::Tick goesOn = s.tick({});
    QCOMPARE(goesOn.stop, WriteLoop::Tick::Stop::None);
    QVERIFY(goesOn.newTexts);
    QCOMPARE(s.writeLoop().countLabelNow(), u"Записано карточек: 2 из 3"_s);

    const std::pair<int, const char*> nouns[] = {
        {1, "карточка"},  {2, "карточки"},  {4, "карточки"},  {5, "карточек"},   {11, "карточек"}, {12, "карточек"},
        {14, "карточек"}, {21, "карточка"}, {22, "карточки"}, {111, "карточек"}, {500, "карточек"}};
    for (const auto& [cards, noun] : nouns)
        QCOMPARE(WriteLoop::batchDoneMessage(cards),
                 u"Партия записана: %1 %2."_s.arg(cards).arg(QString::fromUtf8(noun)));
}

// Joined to a shared batch, a run sends only cards handed over, in the batch's
// tracks, waits while none is, and ends when there are no more; the job keeps
// the batch (never a password), not the card in flight, which the database keeps.
void TestSession::sharedBatchSendsOnlyHandedCards()
{
    struct Handed : HandedCards
    {
        std::optional<CardTexts> card;
        int taken = 0;
        bool over = false;
        std::optional<CardTexts> ready() override { return card; }
        void take() override { ++taken, card.reset(); }
        void outcome(bool, const QString&) override {}
        bool finished() const override { return over; }
        QString station() const override { return u"desk1"_s; }
    } handed;
    QTemporaryDir dir;
    auto p = std::make_unique<Program>(dir.path());
    BatchSession& s = *p->session;
    s.setComposer([](int) { return StagedCard{{u"LOCAL"_s, {}, {}}, [] {}}; });
    QVERIFY_THROWS_EXCEPTION(Failure, s.joinShared({u"host=db user=desk1 password=x"_s, 7, u"May"_s}, 1));
    QVERIFY(!s.shared());
    const Job::Shared batch{u"service=bureau user=desk1"_s, 7, u"May"_s};
    s.joinShared(batch, 1);
    s.setHandedCards(&handed);
    QCOMPARE(s.trackChoice(), 1);
    s.startRun();
    for (int step = 0; step < 3; ++step)
        QVERIFY(!s.tick({}).newTexts); // nothing handed over yet
    handed.card = CardTexts{{}, u"1001=0014"_s, {}};
    const WriteLoop::Tick sent = s.tick({});
    QCOMPARE(sent.newTexts->track2, u"1001=0014"_s);
    QCOMPARE(handed.taken, 1);
    QVERIFY(s.writeLoop().pendingCard());
    QCOMPARE(Journal::read(s.journal().path()).last().note, u"общая партия «May» (7), станция desk1"_s);
    const Job saved = *JobFile::read(s.job().path()).job;
    QCOMPARE(saved.shared, std::optional(batch));
    QVERIFY(!saved.inFlight);
    s.stopRun();

    p = std::make_unique<Program>(dir.path());
    QCOMPARE(p->session->shared(), std::optional(batch));
    handed.over = true;
    p->session->setHandedCards(&handed);
    p->session->startRun();
    QCOMPARE(p->session->tick({}).stop, WriteLoop::Tick::Stop::BatchDone);
    p->session->leaveShared();
    QVERIFY(!JobFile::read(p->session->job().path()).job->shared);
}

void TestSession::refusedAtStartIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("aside");
    for (const JobSamples::Refused& r : JobSamples::refusedFiles())
        QTest::newRow(r.name) << r.bytes << r.says << u"job.swj."_s + JobFile::asideReason(r.problem) + u"-*"_s;
}

// The job that was open no longer reads: one "Ошибка" notice, an empty job,
// and the file renamed, never written over.
void TestSession::refusedAtStartIsKeptAside()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    QFETCH(QString, aside);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(u"job.swj"_s), bytes));
    Program p(dir.path());
    QCOMPARE(p.notices.size(), 1);
    const BatchSession::Notice notice = p.notices.first();
    QCOMPARE(notice.kind, BatchSession::Notice::Kind::Failure);
    QVERIFY2(notice.text.contains(says), qPrintable(notice.text));
    QVERIFY2(notice.text.contains(u"начато новое задание"_s), qPrintable(notice.text));
    QVERIFY(p.session->templates().track(1) == TrackTemplate{});
    const QStringList kept = QDir(dir.path()).entryList({aside}, QDir::Files);
    QCOMPARE(kept.size(), 1);
    QVERIFY(notice.text.contains(kept[0]));

    p.session->saveJob();
    QCOMPARE(readFile(dir.filePath(kept[0])), bytes);
    const JobRead fresh = JobFile::read(dir.filePath(u"job.swj"_s));
    QVERIFY2(fresh.job, qPrintable(fresh.message));
    QVERIFY(JobFile::isEmpty(*fresh.job));
}

// "Сохранить задание как…" moves the job to a file of its own, "Новое задание"
// starts an empty one without losing the unnamed job, opening brings the saved
// one back, and a restart reopens the job that was open.
void TestSession::saveAsNewAndOpen()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(u"jobs"_s));
    {
        Program p(dir.path());
        BatchSession& s = *p.session;
        s.addSlot(2, 0, counter(1, 70, 10, 3));
        s.saveJobAs(dir.filePath(u"jobs/batch"_s));
        QCOMPARE(readFile(dir.filePath(u"lastjob.txt"_s)), QByteArray("jobs/batch.swj\n"));
        s.addSlot(2, 0, counter(1, 80, 10, 3)); // saved into the job's new file
        QCOMPARE(JobFile::read(dir.filePath(u"jobs/batch.swj"_s)).job->templates.track(2).slotText[0], u"80+10"_s);

        s.newJob();
        QVERIFY(s.templates().track(2) == TrackTemplate{});
        QCOMPARE(QDir(dir.path()).entryList({u"job-*.swj"_s}, QDir::Files).size(), 1); // the unnamed job from before
        QCOMPARE(readFile(dir.filePath(u"lastjob.txt"_s)), QByteArray("job.swj\n"));

        const QString path = dir.filePath(u"jobs/batch.swj"_s);
        const JobRead read = JobFile::read(path);
        QVERIFY(read.job);
        QVERIFY(s.openJob(*read.job, path).isEmpty());
        QCOMPARE(s.templates().track(2).slotText[0], u"80+10"_s);
        s.saveJob();
    }
    Program again(dir.path());
    QVERIFY(again.notices.isEmpty());
    QCOMPARE(again.session->templates().track(2).slotText[0], u"80+10"_s);
    QCOMPARE(again.session->job().path(), dir.filePath(u"jobs/batch.swj"_s));
}

// When the working directory cannot record which job is open, opening a job
// fails, and the open job goes on being saved to its own file: never the
// templates of one job into another's file.
void TestSession::jobChangeThatFailsChangesNothing()
{
    QTemporaryDir dir;
    Program p(dir.path());
    BatchSession& s = *p.session;
    s.addSlot(2, 0, text(u"11"_s));
    const QString other = dir.filePath(u"other.swj"_s);
    Job otherJob;
    otherJob.templates.track(3).slotText[0] = u"33"_s;
    JobFile::write(other, otherJob);
    const QByteArray otherBytes = readFile(other);
    QVERIFY(QDir(dir.path()).mkdir(u"lastjob.txt"_s)); // a folder where the pointer file goes

    QVERIFY_THROWS_EXCEPTION(Failure, s.openJob(otherJob, other));
    QCOMPARE(s.templates().track(2).slotText[0], u"11"_s);
    QCOMPARE(s.job().path(), dir.filePath(u"job.swj"_s));

    s.addSlot(2, 1, text(u"22"_s));
    QCOMPARE(readFile(other), otherBytes);
    const JobRead own = JobFile::read(dir.filePath(u"job.swj"_s));
    QVERIFY2(own.job, qPrintable(own.message));
    QCOMPARE(own.job->templates.track(2).slotText[1], u"22"_s);
}

// A job folder moved with its workbook finds it again; a job whose workbook is
// gone says so once and keeps its slots, and finds the workbook when it is back.
void TestSession::workbookMovedOrMissing()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(u"a/cards.csv"_s), Workbook));
    QStringList expected;
    {
        Program p(dir.path());
        BatchSession& s = *p.session;
        s.saveJobAs(dir.filePath(u"a/batch.swj"_s));
        s.chooseWorkbook(dir.filePath(u"a/cards.csv"_s));
        s.addSlot(1, 0, column(1, 1));
        expected = texts(s.stageCard(0).texts);
        QCOMPARE(expected.first(), u"IVANOV"_s);
        s.saveJob();
    }
    QVERIFY(QDir(dir.path()).rename(u"a"_s, u"b"_s));
    TemplateSet slots;
    {
        Program p(dir.path()); // the job that was open is gone with its folder
        QCOMPARE(p.notices.size(), 1);
        QCOMPARE(p.notices[0].kind, BatchSession::Notice::Kind::Warning);
        QVERIFY2(p.notices[0].text.contains(u"не найдено"_s), qPrintable(p.notices[0].text));
        const QString moved = dir.filePath(u"b/batch.swj"_s);
        const JobRead read = JobFile::read(moved);
        QVERIFY(read.job);
        const QList<BatchSession::Notice> opened = p.session->openJob(*read.job, moved);
        QVERIFY2(opened.isEmpty(), qPrintable(opened.value(0).text));
        QCOMPARE(p.session->workbook().workbookPath(), dir.filePath(u"b/cards.csv"_s));
        QCOMPARE(texts(p.session->stageCard(0).texts), expected);
        slots = p.session->templates();
        p.session->saveJob();
    }
    QVERIFY(QFile::rename(dir.filePath(u"b/cards.csv"_s), dir.filePath(u"cards.away"_s)));
    {
        Program p(dir.path());
        QCOMPARE(p.notices.size(), 1);
        QCOMPARE(p.notices[0].kind, BatchSession::Notice::Kind::Warning);
        QVERIFY2(p.notices[0].text.contains(u"не найдена"_s), qPrintable(p.notices[0].text));
        QVERIFY(p.session->templates() == slots);
        QVERIFY(!p.session->workbook().AutoConnect);
        p.session->saveJob();
    }
    QVERIFY(QFile::rename(dir.filePath(u"cards.away"_s), dir.filePath(u"b/cards.csv"_s)));
    {
        Program back(dir.path()); // the workbook stayed the job's while it was away
        QVERIFY2(back.notices.isEmpty(), qPrintable(back.notices.value(0).text));
        QCOMPARE(texts(back.session->stageCard(0).texts), expected);
    }
    {
        QFile grown(dir.filePath(u"b/cards.csv"_s));
        QVERIFY(grown.open(QIODevice::ReadWrite));
        QVERIFY(grown.resize(WorkbookLimits::MaxCsvBytes + 1));
    }
    Program unreadable(dir.path()); // found, and then it does not read
    QVERIFY(unreadable.notices.isEmpty());
    QTRY_COMPARE(unreadable.notices.size(), 1);
    QCOMPARE(unreadable.notices[0].kind, BatchSession::Notice::Kind::Warning);
    QVERIFY2(unreadable.notices[0].text.endsWith(u"Слоты задания сохранены."_s),
             qPrintable(unreadable.notices[0].text));
    QVERIFY(unreadable.session->templates() == slots);
    QVERIFY(!unreadable.session->workbook().hasWorkbook());
    QCOMPARE(unreadable.session->job().openedWorkbook(), QString());
}

// "База Excel" returns before the file is read; the write tick and the preview
// see the workbook as not ready until then, and what needs its cells waits.
void TestSession::workbookIsReadWhileTheWindowGoesOn()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(u"cards.csv"_s), Workbook));
    Program p(dir.path());
    BatchSession& s = *p.session;
    QSemaphore reading;
    s.workbook().loader().setAfterRead([&reading](const QString&) { reading.acquire(); });
    QSignalSpy settled(&s, &BatchSession::workbookSettled);
    s.chooseWorkbook(dir.filePath(u"cards.csv"_s));
    QVERIFY(!s.settleWorkbook());
    QVERIFY(!s.workbookReady());
    QVERIFY(!s.workbook().AutoConnect);
    reading.release();
    QTRY_COMPARE(settled.count(), 1);
    QVERIFY(s.workbook().AutoConnect);
    QVERIFY(s.workbookReady());

    s.chooseWorkbook({}); // a book chosen again, and dropped while it is read
    s.chooseWorkbook(dir.filePath(u"cards.csv"_s));
    s.chooseWorkbook({});
    reading.release(2);
    QVERIFY(!s.workbook().hasWorkbook());
    QVERIFY(s.workbookReady());
    s.workbook().loader().setAfterRead({});

    s.chooseWorkbook(dir.filePath(u"cards.csv"_s)); // Add before the file is read waits for it
    s.addSlot(1, 0, column(1, 1));
    QCOMPARE(s.stageCard(0).texts.track1, u"IVANOV"_s);
}

int runSessionTests(int argc, char** argv)
{
    TestSession t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_session.moc"
