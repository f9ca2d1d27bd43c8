#include "faketerminal.h"
#include "loopharness.h"

#include "link/commandset.h"
#include "link/comport.h"

#include <QTemporaryDir>
#include <QTest>

using Outcome = FakeTerminal::Outcome;
using Stop = WriteLoop::Tick::Stop;

Q_DECLARE_METATYPE(FakeTerminal::Outcome)

namespace {

const QByteArray WriteStart("\x1B%B");
const QByteArray StopCommand("\x1B"
                             "0");

QStringList track1Texts(const QList<QByteArray>& frames)
{
    QStringList texts;
    for (const QByteArray& f : frames) {
        CardTexts t;
        FakeTerminal::decodeFrame(f, t);
        texts.append(t.track1.isEmpty() ? t.track2 : t.track1);
    }
    return texts;
}

} // namespace

// The write loop against a scripted terminal, one step at a time.
class TestWriteLoop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void firstStepSendsAtOnce();
    void answers_data();
    void answers();
    void staleAnswerBytesAreNeverJudged();
    void bytesWithoutACardSentAreIgnored();
    void logOfRefusedCard();
    void resendCarriesTheTextsInHand();
    void overLongInHand_data();
    void overLongInHand();
    void overLongComposedCardIsNeverSent();
    void composeFailureStopsOnceAndKeepsTheCard();
    void emptyCarriedTextOnlyListens();
    void stopSendsTheStopCommandAndEndsTheRun();
    void restartCountsFromZeroAndTheTemplateGoesOn();
    void cardNotSeenWrittenOpensTheNextRun_data();
    void cardNotSeenWrittenOpensTheNextRun();
    void otherTracksAfterAStopComposeANewCard();

private:
    void runSteps(int steps, int choice = CommandSet::Track1);
    WriteLoop::Tick step(int choice = CommandSet::Track1);
    void start(bool sendPending = true) { m_tab.start(*m_session, sendPending); }
    const WriteLoop& loop() const { return m_session->writeLoop(); }

    std::unique_ptr<FakeTerminal> m_terminal;
    qint64 m_now = 0; // moved only by the loop's pauses
    std::unique_ptr<ComPort> m_port;
    std::unique_ptr<QTemporaryDir> m_dir; // the journal's
    std::unique_ptr<BatchSession> m_session;
    TabShown m_tab;
    CounterComposer m_counter;
    QList<int> m_sleeps;
};

void TestWriteLoop::init()
{
    m_terminal = std::make_unique<FakeTerminal>();
    m_now = 0;
    m_port = std::make_unique<ComPort>(m_terminal->factory(), [this] { return m_now; });
    QVERIFY(m_port->ConnectPort(QStringLiteral("COM1")));
    m_sleeps.clear();
    m_session = std::make_unique<BatchSession>(*m_port, [this](int ms) {
        m_sleeps.append(ms);
        m_now += ms;
    });
    m_dir = std::make_unique<QTemporaryDir>();
    m_session->setWorkDir(m_dir->path());
    m_tab = TabShown();
    m_counter = CounterComposer();
    m_session->setComposer(m_counter.composer());
}

WriteLoop::Tick TestWriteLoop::step(int choice)
{
    m_session->setTrackChoice(choice);
    return m_tab.step(*m_session);
}

void TestWriteLoop::runSteps(int steps, int choice)
{
    for (int i = 0; i < steps; ++i)
        step(choice);
}

void TestWriteLoop::firstStepSendsAtOnce()
{
    m_terminal->script = {Outcome::NoAnswer};
    start();
    QCOMPARE(m_terminal->received, WriteStart);
    QCOMPARE(m_tab.label, QStringLiteral("Записано карточек: "));
    QVERIFY(loop().generateNext());
    runSteps(1);
    QCOMPARE(m_terminal->received, WriteStart + QByteArray::fromHex("1B7442311D1B5C") + "\x1Bj");
    // The write start and the 7-byte frame on the line, then the terminal's pause.
    QCOMPARE(m_sleeps, QList<int>{11 + 200 + Tracks_Write::PauseMarginMs});
    QCOMPARE(m_tab.edits.track1, QStringLiteral("1"));
}

void TestWriteLoop::answers_data()
{
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("sent"); // the card texts the terminal got, in order
    QTest::addColumn<int>("written");
    QTest::addColumn<bool>("generateNext");

    const QStringList one{QStringLiteral("1")};
    const QStringList oneTwo{QStringLiteral("1"), QStringLiteral("2")};
    const QStringList oneOne{QStringLiteral("1"), QStringLiteral("1")};
    QTest::newRow("written") << Outcome::Written << 2 << QStringList{writtenLine(1)} << oneTwo << 1 << true;
    QTest::newRow("not written: same card again")
        << Outcome::NotWritten << 2 << QStringList{refusedLine(1)} << oneOne << 0 << false;
    QTest::newRow("answer in pieces: no resend while joining")
        << Outcome::Pieces << 3 << QStringList{writtenLine(1)} << one << 1 << true;
    QTest::newRow("answer in pieces, then the next card")
        << Outcome::Pieces << 4 << QStringList{writtenLine(1)} << oneTwo << 1 << true;
    QTest::newRow("noise before the answer")
        << Outcome::Noise << 3 << QStringList{writtenLine(1)} << oneTwo << 1 << true;
    QTest::newRow("stray ESC before the answer")
        << Outcome::StrayEsc << 3 << QStringList{writtenLine(1)} << oneTwo << 1 << true;
    QTest::newRow("lone ESC is no verdict") << Outcome::LoneEsc << 6 << QStringList{} << one << 0 << true;
    QTest::newRow("no answer: listening") << Outcome::NoAnswer << 6 << QStringList{} << one << 0 << true;
    QTest::newRow("delayed answer") << Outcome::Delayed << 3 << QStringList{writtenLine(1)} << one << 1 << true;
    QTest::newRow("answer without verdict: same card again")
        << Outcome::NoVerdict << 2 << QStringList{QStringLiteral("1") + WriteLoop::noVerdictLine()} << oneOne << 0
        << false;
}

void TestWriteLoop::answers()
{
    QFETCH(Outcome, outcome);
    QFETCH(int, steps);
    QFETCH(QStringList, log);
    QFETCH(QStringList, sent);
    QFETCH(int, written);
    QFETCH(bool, generateNext);
    m_terminal->script = {outcome, Outcome::NoAnswer};
    start();
    runSteps(steps);
    QCOMPARE(m_tab.log, log);
    QCOMPARE(track1Texts(m_terminal->frames), sent);
    QCOMPARE(loop().cardsWritten(), written);
    QCOMPARE(loop().generateNext(), generateNext);
}

void TestWriteLoop::staleAnswerBytesAreNeverJudged()
{
    // Card 1's answer leaves 1B 30 30 70 in ReceiveBuffer; card 2 gets a lone ESC,
    // which lands on the stale bytes and must not read as "written".
    m_terminal->script = {Outcome::Written, Outcome::LoneEsc};
    start();
    runSteps(6);
    QCOMPARE(m_tab.log, QStringList{writtenLine(1)});
    QCOMPARE(loop().cardsWritten(), 1);
    QCOMPARE(m_terminal->frames.size(), 2);
}

void TestWriteLoop::bytesWithoutACardSentAreIgnored()
{
    // An answer-like reply with no card out (the start's 'p' trick of old) gives no verdict.
    m_terminal->queueRead(QByteArray("\x1B"
                                     "00p"));
    QCOMPARE(m_port->readUpTo(4), QByteArray("\x1B"
                                             "00p"));
    m_tab.edits.track1 = QString();
    start();
    m_terminal->queueRead(QByteArray("\x1B"
                                     "00p"));
    m_session->setComposer([](int) { return WriteLoop::StagedCard{}; });
    step(); // empty text: not sent
    m_session->setComposer(m_counter.composer());
    m_terminal->queueRead(QByteArray("\x1B"
                                     "00p"));
    runSteps(2);
    QCOMPARE(m_tab.log, QStringList{});
    QCOMPARE(loop().cardsWritten(), 0);
}

void TestWriteLoop::logOfRefusedCard()
{
    m_terminal->script = {Outcome::Written,    Outcome::Written, Outcome::NotWritten,
                          Outcome::NotWritten, Outcome::Written, Outcome::NoAnswer};
    start();
    runSteps(6);
    QCOMPARE(m_tab.log, (QStringList{writtenLine(1), writtenLine(2), refusedLine(3), refusedLine(3), writtenLine(3)}));
    QCOMPARE(m_tab.label, QStringLiteral("Записано карточек: 3"));
    QCOMPARE(track1Texts(m_terminal->frames),
             (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("3"),
                          QStringLiteral("3"), QStringLiteral("4")}));
    // The repeats did not move the template: card 3 was committed once.
    QCOMPARE(m_counter.next, 5);
}

void TestWriteLoop::resendCarriesTheTextsInHand()
{
    m_terminal->script = {Outcome::NotWritten, Outcome::NoAnswer};
    start();
    runSteps(1, CommandSet::Track23);
    QCOMPARE(m_tab.edits.track3, QStringLiteral("1"));
    m_tab.edits.track3 = QStringLiteral("99"); // the operator types into the track 3 edit
    const WriteLoop::Tick t = step(CommandSet::Track23);
    QVERIFY(!t.newTexts);
    QCOMPARE(m_counter.composes, 1);
    QCOMPARE(m_terminal->frames.last(), QByteArray::fromHex("1B7431413939 1D1B5C"));
}

void TestWriteLoop::overLongInHand_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("stops");
    QTest::newRow("track 1 at 79") << 0 << 1 << 79 << false;
    QTest::newRow("track 1 at 80") << 0 << 1 << 80 << true;
    QTest::newRow("track 2 at 40") << 1 << 2 << 40 << false;
    QTest::newRow("track 2 at 41") << 1 << 2 << 41 << true;
    QTest::newRow("track 3 at 107") << 2 << 3 << 107 << false;
    QTest::newRow("track 3 at 108") << 2 << 3 << 108 << true;
    QTest::newRow("track 3 not carried at 108") << 0 << 3 << 108 << true;
}

void TestWriteLoop::overLongInHand()
{
    QFETCH(int, choice);
    QFETCH(int, track);
    QFETCH(int, length);
    QFETCH(bool, stops);
    m_tab.edits.track(track) = QString(length, u'1');
    start();
    const WriteLoop::Tick t = step(choice);
    QCOMPARE(t.stop, stops ? Stop::OverLong : Stop::None);
    QCOMPARE(loop().running(), !stops);
    if (stops) { // the window empties the edits (TestWindowRun)
        QCOMPARE(m_terminal->received, WriteStart + StopCommand);
        QCOMPARE(m_counter.composes, 0);
    }
}

void TestWriteLoop::overLongComposedCardIsNeverSent()
{
    m_counter.overLongAt = 2;
    m_terminal->script = {Outcome::Written};
    start();
    runSteps(1);
    QCOMPARE(step().stop, Stop::OverLong);
    QCOMPARE(m_terminal->frames.size(), 1);
    QVERIFY(m_terminal->received.endsWith(StopCommand));
    QCOMPARE(m_counter.next, 2); // card 2 is still to come
    QCOMPARE(m_tab.log, QStringList{writtenLine(1)});
    QCOMPARE(loop().cardsWritten(), 1);
}

void TestWriteLoop::composeFailureStopsOnceAndKeepsTheCard()
{
    m_counter.failAt = 2;
    m_counter.failuresLeft = 1;
    m_terminal->script = {Outcome::Written, Outcome::Written, Outcome::NoAnswer};
    start();
    runSteps(1);
    const WriteLoop::Tick failed = step();
    QCOMPARE(failed.stop, Stop::Failed);
    QCOMPARE(failed.error, QStringLiteral("Ошибка чтения ячейки"));
    QVERIFY(!loop().running());
    QVERIFY(m_terminal->received.endsWith(StopCommand));
    QCOMPARE(m_terminal->frames.size(), 1);
    QCOMPARE(m_counter.next, 2);
    for (int i = 0; i < 3; ++i) // a stray step after the stop composes nothing and reports nothing
        QCOMPARE(step().stop, Stop::None);
    QCOMPARE(m_counter.composes, 2);

    start();
    runSteps(2);
    QCOMPARE(track1Texts(m_terminal->frames),
             (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    QCOMPARE(m_tab.log, QStringList{writtenLine(1)});
}

void TestWriteLoop::emptyCarriedTextOnlyListens()
{
    int commits = 0;
    const WriteLoop::Composer empty = [&](int) {
        return WriteLoop::StagedCard{{QStringLiteral("A"), QString(), QString()}, [&] { ++commits; }};
    };
    m_session->setComposer(empty);
    start();
    runSteps(3, CommandSet::Track12);
    QCOMPARE(m_terminal->received, WriteStart);
    QCOMPARE(commits, 0);
    QVERIFY(loop().running());
    QCOMPARE(m_tab.edits.track1, QStringLiteral("A"));
}

void TestWriteLoop::stopSendsTheStopCommandAndEndsTheRun()
{
    m_session->stopRun(); // with no run going on as well
    QCOMPARE(m_terminal->received, StopCommand);
    start();
    m_session->stopRun();
    const QByteArray before = m_terminal->received;
    runSteps(2);
    QCOMPARE(m_terminal->received, before);
    QCOMPARE(m_port->sendBuffer()[2], (unsigned char)'B'); // the stop command leaves index 2 alone
}

void TestWriteLoop::restartCountsFromZeroAndTheTemplateGoesOn()
{
    m_terminal->script = {Outcome::Written, Outcome::Written, Outcome::Written, Outcome::NoAnswer};
    start();
    runSteps(2);
    m_session->stopRun();
    start();
    QCOMPARE(loop().cardsWritten(), 0);
    QCOMPARE(m_tab.log, QStringList{});
    runSteps(1);
    QCOMPARE(m_tab.log, QStringList{writtenLine(1)});
    QCOMPARE(track1Texts(m_terminal->frames).last(), QStringLiteral("3"));
}

// A run stopped while its card had no "written" answer: the next run sends that
// card first, so its values are neither skipped nor given to another card.
void TestWriteLoop::cardNotSeenWrittenOpensTheNextRun_data()
{
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("steps");
    QTest::newRow("no answer") << Outcome::NoAnswer << 3;
    QTest::newRow("lone ESC") << Outcome::LoneEsc << 3;
    QTest::newRow("refused, stopped before the resend") << Outcome::NotWritten << 1;
    QTest::newRow("no verdict, stopped before the resend") << Outcome::NoVerdict << 1;
}

void TestWriteLoop::cardNotSeenWrittenOpensTheNextRun()
{
    QFETCH(Outcome, outcome);
    QFETCH(int, steps);
    m_terminal->script = {Outcome::Written, outcome, Outcome::Written, Outcome::Written, Outcome::NoAnswer};
    start();
    runSteps(1 + steps);
    m_session->stopRun();
    m_tab.edits = {}; // "Отмена" empties the edits
    start();
    const WriteLoop::Tick first = step();
    QVERIFY(first.newTexts);
    QCOMPARE(m_tab.edits.track1, QStringLiteral("2"));
    runSteps(2);
    QCOMPARE(track1Texts(m_terminal->frames).mid(2),
             (QStringList{QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")}));
    QCOMPARE(m_tab.log,
             (QStringList{QStringLiteral("1") + WriteLoop::sentAgainLine(), writtenLine(1), writtenLine(2)}));
    QCOMPARE(m_counter.next, 5); // cards 1 .. 4 composed once each
}

void TestWriteLoop::otherTracksAfterAStopComposeANewCard()
{
    // The card in flight goes first as it was, on the tracks it was made for ...
    m_terminal->script = {Outcome::NoAnswer, Outcome::Written, Outcome::NoAnswer, Outcome::Written};
    start();
    runSteps(2);
    m_session->stopRun();
    start();
    runSteps(1, CommandSet::Track12);
    QCOMPARE(m_terminal->frames.last(), Tracks_Write::buildFrame(CommandSet::Track1, {QStringLiteral("1")}));
    QCOMPARE(m_tab.log, (QStringList{QStringLiteral("1") + WriteLoop::sentAgainLine(), writtenLine(1)}));
    runSteps(1, CommandSet::Track12);
    QCOMPARE(m_terminal->frames.last(),
             Tracks_Write::buildFrame(CommandSet::Track12, {QStringLiteral("2"), QStringLiteral("2")}));
    // ... unless the operator drops it: then the next run composes a new card.
    m_session->stopRun();
    QVERIFY(loop().pendingCard());
    start(false);
    QVERIFY(m_tab.log.value(0).contains(QStringLiteral("2|2|")));
    runSteps(1, CommandSet::Track12);
    QCOMPARE(m_terminal->frames.last(),
             Tracks_Write::buildFrame(CommandSet::Track12, {QStringLiteral("3"), QStringLiteral("3")}));
}

int runWriteLoopTests(int argc, char** argv)
{
    TestWriteLoop t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_writeloop.moc"
