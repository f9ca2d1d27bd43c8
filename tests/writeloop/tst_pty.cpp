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
const char* const Outcomes = "WNWQWJPDNW";
constexpr int Cards = 10;
// A step whose read gets nothing waits the port's 100 ms read time-out.
constexpr int MaxSteps = 300;

} // namespace

// A run across a real pseudo-terminal against the simulator program, with the
// real port and templates; the steps are driven directly, without the 500 ms timer.
class TestPty : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runOfCardsOverThePty();
};

void TestPty::runOfCardsOverThePty()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString encodedPath = dir.filePath(QStringLiteral("encoded.txt"));
    QProcess sim;
    sim.setProgram(QStringLiteral(STRIPEWELL_SIM_PROGRAM));
    sim.setArguments({QStringLiteral("--encoded"), encodedPath, QStringLiteral("--write-outcomes"),
                      QString::fromLatin1(Outcomes), QStringLiteral("--slow-delay"), QStringLiteral("300"),
                      QStringLiteral("--piece-gap"), QStringLiteral("60"), QStringLiteral("--present-after"),
                      QStringLiteral("0"), QStringLiteral("--stdin-quit")});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    QString devicePath;
    while (devicePath.isEmpty() && sim.waitForReadyRead(5000)) {
        while (sim.canReadLine()) {
            const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
            if (line.startsWith(QLatin1String("device ")))
                devicePath = line.mid(7);
        }
    }
    QVERIFY(!devicePath.isEmpty());

    ComPort port(qtSerialDeviceFactory());
    QVERIFY(port.ConnectPort(devicePath));
    WriteLoop loop(port, realSleeper());
    WriteTab tab(loop);
    TemplateCards::PositionCells cells;
    TemplateSet committed = TemplateCards::make(cells);
    const WriteLoop::Composer compose = TemplateCards::composer(committed, cells);

    tab.SpeedButton5Click();
    for (int step = 0; loop.cardsWritten() < Cards && step < MaxSteps; ++step) {
        const WriteLoop::Tick t = tab.Timer2Timer(CommandSet::Track123, compose);
        QCOMPARE(t.stop, WriteLoop::Tick::Stop::None);
        sim.readAll(); // the program's event lines are not needed; keep its pipe from filling
    }
    loop.stop();
    sim.closeWriteChannel();
    QVERIFY(sim.waitForFinished(5000));

    QCOMPARE(tab.log, (QStringList{writtenLine(1), refusedLine(2), writtenLine(2), refusedLine(3), writtenLine(3),
                                   writtenLine(4), writtenLine(5), writtenLine(6), refusedLine(7), writtenLine(7),
                                   writtenLine(8), writtenLine(9), writtenLine(10)}));
    QCOMPARE(tab.label, QStringLiteral("Записано карточек: 10"));
    QFile encoded(encodedPath);
    QVERIFY(encoded.open(QIODevice::ReadOnly));
    QByteArray expected;
    for (int n = 1; n <= Cards; ++n)
        expected += TemplateCards::cardOf(n).toLine() + '\n';
    QCOMPARE(encoded.readAll(), expected);
}

int runPtyTests(int argc, char** argv)
{
    TestPty t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_pty.moc"
