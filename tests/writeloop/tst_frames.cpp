#include "faketerminal.h"

#include "base/error.h"
#include "link/commandset.h"
#include "link/comport.h"
#include "writing/writetrack.h"

#include <QTest>

using namespace Tracks_Write;

Q_DECLARE_METATYPE(Tracks_Write::Verdict)

namespace {

// Records what the terminal had received and what ReceiveBuffer[0] held when the routine paused.
struct SleepRecord
{
    int ms = -1;
    QByteArray receivedBefore;
    unsigned char receive0 = 0xFF;
};

StagedCard staged(const CardTexts& texts, int* commits)
{
    return {texts, [commits] { ++*commits; }};
}

} // namespace

// Write frames, the write routine and the answer table.
class TestFrames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void frames_data();
    void frames();
    void frameAtCapacityGoesOutWhole();
    void longerFrameStaysOutOfSendBuffer();
    void routinePausesThenSendsEscJ_data();
    void routinePausesThenSendsEscJ();
    void emptyCarriedTextSendsNothing_data();
    void emptyCarriedTextSendsNothing();
    void composedCardIsCommittedWhenSent();
    void composedTrack1IsUpperCase();
    void composedOverLongCardIsNeitherSentNorCommitted();
    void composeFailureSendsNothing();
    void verdicts_data();
    void verdicts();
    void capacities_data();
    void capacities();

private:
    std::unique_ptr<FakeTerminal> m_terminal;
    std::unique_ptr<ComPort> m_port;
};

void TestFrames::init()
{
    m_terminal = std::make_unique<FakeTerminal>();
    m_port = std::make_unique<ComPort>(m_terminal->factory(), [] { return qint64(0); });
    QVERIFY(m_port->ConnectPort(QStringLiteral("COM1")));
}

void TestFrames::frames_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("t1");
    QTest::addColumn<QString>("t2");
    QTest::addColumn<QString>("t3");
    QTest::addColumn<QByteArray>("frame");

    const QString none;
    QTest::newRow("track 1") << 0 << QStringLiteral("AB") << none << none << QByteArray::fromHex("1B74 42 4142 1D1B5C");
    QTest::newRow("track 1 untranslated")
        << 0 << QStringLiteral("12=34>5") << none << none << QByteArray::fromHex("1B744231323D33343E351D1B5C");
    QTest::newRow("track 1 Windows-1251")
        << 0 << QStringLiteral("ЖЁ1") << none << none << QByteArray::fromHex("1B7442C6A8311D1B5C");
    QTest::newRow("track 2 translated") << 1 << none << QStringLiteral("12=34>5") << none
                                        << QByteArray::fromHex("1B74 31322733343D35 1D1B5C");
    QTest::newRow("track 3") << 2 << none << none << QStringLiteral("1=>")
                             << QByteArray::fromHex("1B74 41 31273D 1D1B5C");
    QTest::newRow("tracks 1 & 2") << 3 << QStringLiteral("X") << QStringLiteral("9") << none
                                  << QByteArray::fromHex("1B743942581D1B5C");
    QTest::newRow("tracks 2 & 3") << 4 << none << QStringLiteral("1") << QStringLiteral("2")
                                  << QByteArray::fromHex("1B743141321D1B5C");
    QTest::newRow("tracks 1 & 2 & 3") << 5 << QStringLiteral("C") << QStringLiteral("1") << QStringLiteral("2")
                                      << QByteArray::fromHex("1B74 31 4132 4243 1D1B5C");
    QTest::newRow("texts not carried are ignored")
        << 0 << QStringLiteral("A") << QStringLiteral("5") << QString() << QByteArray::fromHex("1B7442411D1B5C");
    QTest::newRow("empty not-carried text")
        << 1 << QString() << QStringLiteral("7") << QString() << QByteArray::fromHex("1B74371D1B5C");
}

void TestFrames::frames()
{
    QFETCH(int, choice);
    QFETCH(QString, t1);
    QFETCH(QString, t2);
    QFETCH(QString, t3);
    QFETCH(QByteArray, frame);
    QCOMPARE(buildFrame(choice, {t1, t2, t3}).toHex(' '), frame.toHex(' '));
}

void TestFrames::frameAtCapacityGoesOutWhole()
{
    const CardTexts full{QString(79, u'A'), QString(40, u'1'), QString(107, u'2')};
    const QByteArray frame = buildFrame(CommandSet::Track123, full);
    QCOMPARE(frame.size(), 233);
    const WriteResult r = writeTrack(*m_port, {}, CommandSet::Track123, false, full, {});
    QCOMPARE(r.outcome, WriteResult::Outcome::Sent);
    QCOMPARE(m_terminal->frames.size(), 1);
    QCOMPARE(m_terminal->frames.at(0).size(), 233);
    CardTexts decoded;
    QVERIFY(FakeTerminal::decodeFrame(m_terminal->frames.at(0), decoded));
    QCOMPARE(decoded.track1, full.track1);
    QCOMPARE(decoded.track2, full.track2);
    QCOMPARE(decoded.track3, full.track3);
}

void TestFrames::longerFrameStaysOutOfSendBuffer()
{
    // What fits of a frame is left in SendBuffer as the terminal saw it; the rest never touches it.
    const CardTexts full{QString(79, u'A'), QString(40, u'1'), QString(107, u'2')};
    writeTrack(*m_port, {}, CommandSet::Track123, false, full, {});
    const QByteArray frame = buildFrame(CommandSet::Track123, full);
    const QByteArray buffer(reinterpret_cast<const char*>(m_port->sendBuffer().data()), ComPort::BufferSize);
    QCOMPARE(buffer.mid(2).toHex(), frame.mid(2, ComPort::BufferSize - 2).toHex());
    QCOMPARE(buffer.left(2), QByteArray("\x1Bj"));
}

void TestFrames::routinePausesThenSendsEscJ_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("delay");
    QTest::addColumn<CardTexts>("texts");
    QTest::addColumn<int>("wait"); // the frame's time on a 9600-baud line, rounded up, then the delay
    const char* names[] = {"track 1", "track 2", "track 3", "tracks 1 & 2", "tracks 2 & 3", "tracks 1 & 2 & 3"};
    const int delays[] = {200, 100, 100, 100, 10, 100};
    const int waits[] = {8 + 200, 7 + 100, 8 + 100, 9 + 100, 9 + 10, 11 + 100};
    const CardTexts small{QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("2")};
    for (int c = 0; c < 6; ++c)
        QTest::newRow(names[c]) << c << delays[c] << small << waits[c];
    const CardTexts full{QString(79, u'A'), QString(40, u'1'), QString(107, u'2')};
    QTest::newRow("tracks 1 & 2 & 3 at capacity") << 5 << 100 << full << 243 + 100;
    QTest::newRow("tracks 2 & 3 at capacity") << 4 << 10 << full << 160 + 10;
}

void TestFrames::routinePausesThenSendsEscJ()
{
    QFETCH(int, choice);
    QFETCH(int, delay);
    QFETCH(CardTexts, texts);
    QFETCH(int, wait);
    // The last answer read left an ESC at the start of the receive buffer.
    m_terminal->queueRead(QByteArray("\x1B"));
    QCOMPARE(m_port->readUpTo(1), QByteArray("\x1B"));
    QList<SleepRecord> sleeps;
    const Sleeper sleeper = [&](int ms) { sleeps.append({ms, m_terminal->received, m_port->receiveBuffer()[0]}); };
    QCOMPARE(delayAfterFrameMs(choice), delay);
    writeTrack(*m_port, sleeper, choice, false, texts, {});
    QCOMPARE(sleeps.size(), 1);
    QCOMPARE(sleeps.at(0).ms, wait + PauseMarginMs);
    const QByteArray frame = buildFrame(choice, texts);
    QCOMPARE(sleeps.at(0).receivedBefore.toHex(' '), frame.toHex(' '));
    QCOMPARE(sleeps.at(0).receive0, (unsigned char)0);
    QCOMPARE(m_terminal->received.toHex(' '), (frame + "\x1Bj").toHex(' '));
}

void TestFrames::emptyCarriedTextSendsNothing_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("emptyTrack");
    for (int c = 0; c < 6; ++c) {
        for (int t = 1; t <= 3; ++t) {
            if (CommandSet::choiceCarries(c, t))
                QTest::addRow("choice %d, track %d empty", c, t) << c << t;
        }
    }
}

void TestFrames::emptyCarriedTextSendsNothing()
{
    QFETCH(int, choice);
    QFETCH(int, emptyTrack);
    CardTexts texts{QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("2")};
    texts.track(emptyTrack).clear();
    QVERIFY(buildFrame(choice, texts).isEmpty());
    int slept = 0;
    const WriteResult r = writeTrack(*m_port, [&](int) { ++slept; }, choice, false, texts, {});
    QCOMPARE(r.outcome, WriteResult::Outcome::NothingSent);
    QCOMPARE(m_terminal->received, QByteArray());
    QCOMPARE(slept, 0);
}

void TestFrames::composedCardIsCommittedWhenSent()
{
    int commits = 0;
    int composedFor = -1;
    const CardTexts inHand{QStringLiteral("OLD"), QStringLiteral("0"), QStringLiteral("333")};
    const Composer compose = [&](int choice) {
        composedFor = choice;
        return staged({QStringLiteral("NEW"), QStringLiteral("12"), QStringLiteral("NOT CARRIED")}, &commits);
    };
    const WriteResult r = writeTrack(*m_port, {}, CommandSet::Track12, true, inHand, compose);
    QCOMPARE(composedFor, int(CommandSet::Track12));
    QCOMPARE(commits, 1);
    QVERIFY(r.composed);
    QCOMPARE(r.texts.track1, QStringLiteral("NEW"));
    QCOMPARE(r.texts.track2, QStringLiteral("12"));
    QCOMPARE(r.texts.track3, QStringLiteral("333")); // an edit of a track not carried keeps its text
    QCOMPARE(m_terminal->frames, QList<QByteArray>{buildFrame(CommandSet::Track12, r.texts)});
}

void TestFrames::composedTrack1IsUpperCase()
{
    int commits = 0;
    const Composer compose = [&](int) { return staged({QStringLiteral("ab/cd")}, &commits); };
    const WriteResult r = writeTrack(*m_port, {}, CommandSet::Track1, true, {}, compose);
    QCOMPARE(r.texts.track1, QStringLiteral("AB/CD"));
    QCOMPARE(m_terminal->frames.at(0), buildFrame(CommandSet::Track1, {QStringLiteral("AB/CD")}));
    // Letters the stripe cannot hold never reach a frame, whatever the case.
    const Composer cyrillic = [&](int) { return staged({QStringLiteral("ab жё")}, &commits); };
    const WriteResult refused = writeTrack(*m_port, {}, CommandSet::Track1, true, {}, cyrillic);
    QCOMPARE(refused.outcome, WriteResult::Outcome::Refused);
    QCOMPARE(refused.problem, QStringLiteral("Карточка не отправлена: дорожка 1 не может нести символ «Ж»."));
    QCOMPARE(m_terminal->frames.size(), 1);
    QCOMPARE(commits, 1);
}

void TestFrames::composedOverLongCardIsNeitherSentNorCommitted()
{
    int commits = 0;
    const Composer compose = [&](int) { return staged({QString(80, u'A')}, &commits); };
    const WriteResult r = writeTrack(*m_port, {}, CommandSet::Track1, true, {}, compose);
    QCOMPARE(r.outcome, WriteResult::Outcome::OverLong);
    QCOMPARE(commits, 0);
    QCOMPARE(m_terminal->received, QByteArray());
}

void TestFrames::composeFailureSendsNothing()
{
    const Composer compose = [](int) -> StagedCard { throw Failure(QStringLiteral("Ячейка не читается")); };
    QVERIFY_THROWS_EXCEPTION(Failure, writeTrack(*m_port, {}, CommandSet::Track1, true, {}, compose));
    QCOMPARE(m_terminal->received, QByteArray());
}

void TestFrames::verdicts_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<Verdict>("verdict");
    QTest::newRow("written") << QByteArray::fromHex("1B303070") << Verdict::Written;
    QTest::newRow("index 1 is not looked at") << QByteArray::fromHex("1B713070") << Verdict::Written;
    QTest::newRow("q at 2 before p") << QByteArray::fromHex("1B307170") << Verdict::NotWritten;
    QTest::newRow("q at 3") << QByteArray::fromHex("1B303071") << Verdict::NotWritten;
    QTest::newRow("q at 2 and 3") << QByteArray::fromHex("1B307171") << Verdict::NotWritten;
    QTest::newRow("neither") << QByteArray::fromHex("1B303030") << Verdict::NoVerdict;
    QTest::newRow("no ESC") << QByteArray::fromHex("00303070") << Verdict::NoVerdict;
    QTest::newRow("lone ESC") << QByteArray::fromHex("1B") << Verdict::NoVerdict;
    QTest::newRow("three bytes") << QByteArray::fromHex("1B3030") << Verdict::NoVerdict;
}

void TestFrames::verdicts()
{
    QFETCH(QByteArray, answer);
    QFETCH(Verdict, verdict);
    QCOMPARE(verdictOf(answer), verdict);
}

void TestFrames::capacities_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("over");
    QTest::newRow("track 1 at 79") << 1 << 79 << false;
    QTest::newRow("track 1 at 80") << 1 << 80 << true;
    QTest::newRow("track 2 at 40") << 2 << 40 << false;
    QTest::newRow("track 2 at 41") << 2 << 41 << true;
    QTest::newRow("track 3 at 107") << 3 << 107 << false;
    QTest::newRow("track 3 at 108") << 3 << 108 << true;
}

void TestFrames::capacities()
{
    QFETCH(int, track);
    QFETCH(int, length);
    QFETCH(bool, over);
    CardTexts texts;
    texts.track(track) = QString(length, u'1');
    QCOMPARE(overCapacity(texts), over);
}

int runFrameTests(int argc, char** argv)
{
    TestFrames t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_frames.moc"
