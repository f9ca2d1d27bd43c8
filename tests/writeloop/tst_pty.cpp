#include "loopharness.h"
#include "templatecards.h"

#include "link/commandset.h"
#include "link/comport.h"
#include "link/qtserialdevice.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Refusals (whole and in pieces), junk, pieces and a late answer along the way.
const char* const PtyOutcomes = "WNWQWJPDNW";
constexpr int PtyCards = 10;
// A step whose read gets nothing waits the port's 100 ms read time-out.
constexpr int MaxSteps = 300;

// The simulator program on its own pseudo-terminal; everything it reports is kept.
struct SimulatorOnPty
{
    SimulatorOnPty(const QString& encodedPath, const QStringList& options)
    {
        process.setProgram(QStringLiteral(STRIPEWELL_SIM_PROGRAM));
        process.setArguments(QStringList{QStringLiteral("--encoded"), encodedPath, QStringLiteral("--present-after"),
                                         QStringLiteral("0"), QStringLiteral("--stdin-quit")} +
                             options);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        if (!process.waitForStarted(5000))
            return;
        while (devicePath.isEmpty() && process.waitForReadyRead(5000)) {
            while (process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
                if (line.startsWith(QLatin1String("device ")))
                    devicePath = line.mid(7);
            }
        }
    }
    // Ends the simulator and returns all it reported after the device line.
    QByteArray finish()
    {
        process.closeWriteChannel();
        process.waitForFinished(5000);
        return report += process.readAll();
    }

    QProcess process;
    QString devicePath;
    QByteArray report;
};

// Every carried track full to its capacity, with the card's number in front; track
// 1 holds the letters that mark the other tracks in a frame.
CardTexts fullCard(int n)
{
    const QString number = QString::number(n).rightJustified(6, u'0');
    return {(number + QStringLiteral(" IVANOV/BORIS A B")).leftJustified(Tracks_Write::Capacity[1], u'Z'),
            (number + u'=').leftJustified(Tracks_Write::Capacity[2], u'7'),
            (number + QStringLiteral("=>")).leftJustified(Tracks_Write::Capacity[3], u'3')};
}

} // namespace

// Runs across a real pseudo-terminal against the simulator program on its real-paced
// line, with the real port; the steps are driven directly, without the 500 ms timer.
class TestPty : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runOfCardsOverThePty();
    void everyChoiceAtCapacityKeepsThePause_data();
    void everyChoiceAtCapacityKeepsThePause();
};

void TestPty::runOfCardsOverThePty()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString encodedPath = dir.filePath(QStringLiteral("encoded.txt"));
    SimulatorOnPty sim(encodedPath, {QStringLiteral("--write-outcomes"), QString::fromLatin1(PtyOutcomes),
                                     QStringLiteral("--slow-delay"), QStringLiteral("300"),
                                     QStringLiteral("--piece-gap"), QStringLiteral("60")});
    QVERIFY(!sim.devicePath.isEmpty());

    ComPort port(qtSerialDeviceFactory());
    QVERIFY(port.ConnectPort(sim.devicePath));
    BatchSession session(port, realSleeper());
    session.setWorkDir(dir.path());
    TabShown tab;
    TemplateCards::PositionCells cells;
    TemplateSet committed = TemplateCards::make(cells);
    session.setComposer(TemplateCards::composer(committed, cells));
    session.setTrackChoice(CommandSet::Track123);

    tab.start(session);
    for (int step = 0; session.writeLoop().cardsWritten() < PtyCards && step < MaxSteps; ++step) {
        const WriteLoop::Tick t = tab.step(session);
        QCOMPARE(t.stop, WriteLoop::Tick::Stop::None);
        sim.report += sim.process.readAll(); // keep its pipe from filling
    }
    session.stopRun();
    QVERIFY(sim.finish().contains("timing-faults 0\n"));

    QCOMPARE(tab.log, (QStringList{writtenLine(1), refusedLine(2), writtenLine(2), refusedLine(3), writtenLine(3),
                                   writtenLine(4), writtenLine(5), writtenLine(6), refusedLine(7), writtenLine(7),
                                   writtenLine(8), writtenLine(9), writtenLine(10)}));
    QCOMPARE(tab.label, QStringLiteral("Записано карточек: 10"));
    QFile encoded(encodedPath);
    QVERIFY(encoded.open(QIODevice::ReadOnly));
    QByteArray expected;
    for (int n = 1; n <= PtyCards; ++n)
        expected += TemplateCards::cardOf(n).toLine() + '\n';
    QCOMPARE(encoded.readAll(), expected);
}

void TestPty::everyChoiceAtCapacityKeepsThePause_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("delivery");
    const char* const names[] = {"Track 1", "Track 2", "Track 3", "Track 1 & 2", "Track 2 & 3", "Track 1 & 2 & 3"};
    for (int choice = 0; choice < CommandSet::TrackChoiceCount; ++choice)
        QTest::newRow(names[choice]) << choice << (choice % 2 ? QStringLiteral("uart") : QStringLiteral("usb"));
}

// The longest frame of each combination on a 9600-baud line: the terminal sees
// every ESC 'j' its pause after the frame's last byte, and writes every card.
void TestPty::everyChoiceAtCapacityKeepsThePause()
{
    QFETCH(int, choice);
    QFETCH(QString, delivery);
    QTemporaryDir dir;
    const QString encodedPath = dir.filePath(QStringLiteral("encoded.txt"));
    SimulatorOnPty sim(encodedPath, {QStringLiteral("--write-outcomes"), QStringLiteral("WNW"),
                                     QStringLiteral("--delivery"), delivery});
    QVERIFY(!sim.devicePath.isEmpty());
    ComPort port(qtSerialDeviceFactory());
    QVERIFY(port.ConnectPort(sim.devicePath));
    BatchSession session(port, realSleeper());
    session.setWorkDir(dir.path());
    TabShown tab;
    int next = 1;
    session.setComposer([&next](int) { return WriteLoop::StagedCard{fullCard(next), [&next] { ++next; }}; });
    session.setTrackChoice(choice);
    constexpr int cards = 3;
    tab.start(session);
    for (int step = 0; session.writeLoop().cardsWritten() < cards && step < 20; ++step)
        tab.step(session);
    session.stopRun();
    const QByteArray report = sim.finish();
    QVERIFY2(report.contains("timing-faults 0\n"), report.constData());
    QCOMPARE(tab.log, (QStringList{writtenLine(1), refusedLine(2), writtenLine(2), writtenLine(3)}));
    QFile encoded(encodedPath);
    QVERIFY(encoded.open(QIODevice::ReadOnly));
    QByteArray expected;
    for (int n = 1; n <= cards; ++n) {
        const CardTexts full = fullCard(n);
        const SimCard card{CommandSet::choiceCarries(choice, 1) ? full.track1.toLatin1() : QByteArray(),
                           CommandSet::choiceCarries(choice, 2) ? full.track2.toLatin1() : QByteArray(),
                           CommandSet::choiceCarries(choice, 3) ? full.track3.toLatin1() : QByteArray()};
        expected += card.toLine() + '\n';
    }
    QCOMPARE(encoded.readAll(), expected);
}

int runPtyTests(int argc, char** argv)
{
    TestPty t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_pty.moc"
