#include "link/comport.h"
#include "simtestutil.h"
#include "tools/simulateddevice.h"

#include <QTest>

namespace {

QByteArray lastRead(const ComPort& port)
{
    return port.lastRead();
}

} // namespace

// The simulator as the program's serial device, driven through the program's own port.
class TestSimulatedDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsThroughThePort();
    void purgeDropsOnlyWhatHasArrived();
    void countSmallerThanTheReplyLeavesTheRest();
    void writeRunThroughThePort();
    void waitingReads_data();
    void waitingReads();
    void factoryNamesAndUnplugging();
};

void TestSimulatedDevice::readsThroughThePort()
{
    TerminalSimulator sim(CardDeck({{"B1^X^2", "1=2", "3"}}), TerminalSimulator::Line::instant());
    sim.setPresentAfterMs(1500);
    SimClock clock;
    ComPort port(simulatedDeviceFactory(sim, clock));
    QVERIFY(port.ConnectPort(QStringLiteral("COM1")));
    port.sendCommand("\x1b"
                     "BT");
    clock.advance(1499);
    QCOMPARE(port.readUpTo(150).size(), 0);
    clock.advance(1);
    QCOMPARE(port.readUpTo(150).size(), 13);
    QCOMPARE(lastRead(port), QByteArray("\x1b"
                                        "B1'2BB1^X^2?"));
    QCOMPARE(sim.received().first().bytes, QByteArray("\x1b"
                                                      "BT"));
}

void TestSimulatedDevice::purgeDropsOnlyWhatHasArrived()
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.setReplyScript({0, 2, 100});
    SimClock clock;
    SimulatedDevice device(sim, clock);
    QVERIFY(device.open());
    device.write("\x1b]M", 3);
    sim.present({"", "1234", ""}, clock.now()); // "1B 5D 31" now, "32 33 34 3F" 100 ms later
    device.purgeReceive();
    clock.advance(100);
    char buf[16];
    QCOMPARE(device.read(buf, 16), 4);
    QCOMPARE(QByteArray(buf, 4), QByteArray("234?"));
}

void TestSimulatedDevice::countSmallerThanTheReplyLeavesTheRest()
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    SimClock clock;
    SimulatedDevice device(sim, clock);
    device.open();
    device.write("\x1b]M", 3);
    sim.present({"", "1234", ""}, 0);
    char buf[8];
    QCOMPARE(device.read(buf, 4), 4);
    QCOMPARE(device.unread(), QByteArray("34?"));
    QCOMPARE(device.read(buf, 8), 3);
    QCOMPARE(device.read(buf, 8), 0);
}

void TestSimulatedDevice::writeRunThroughThePort()
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    WriteScript script;
    QVERIFY(WriteScript::fromPattern(QStringLiteral("NW"), {}, script, nullptr));
    sim.setWriteScript(script);
    SimClock clock;
    ComPort port(simulatedDeviceFactory(sim, clock));
    QVERIFY(port.ConnectPort(QStringLiteral("COM1")));
    port.WriteBytes("\x1b%B");
    for (const char* verdict : {"\x1b"
                                "0qq",
                                "\x1b"
                                "00p"}) {
        port.WriteBytes(QByteArray("\x1btBAB\x1d\x1b\\"));
        clock.sleeper()(200);
        port.WriteBytes("\x1bj");
        QCOMPARE(port.readUpTo(4).size(), 4);
        QCOMPARE(lastRead(port), QByteArray(verdict));
        clock.advance(500);
    }
    QCOMPARE(sim.encodedCards(), (QList<SimCard>{{"AB", "", ""}}));
    QCOMPARE(sim.frames().size(), 2);
    QCOMPARE(sim.commands().last().atMs, 900);
}

void TestSimulatedDevice::waitingReads_data()
{
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<int>("firstRead");
    QTest::addColumn<qint64>("clockAfter");
    // The link's read ends 24 ms after the line goes quiet, or at 100 ms.
    QTest::newRow("pieces 10 ms apart are joined") << 10 << 7 << qint64(10 + 24);
    QTest::newRow("pieces 60 ms apart are two reads") << 60 << 3 << qint64(24);
}

void TestSimulatedDevice::waitingReads()
{
    QFETCH(int, gapMs);
    QFETCH(int, firstRead);
    QFETCH(qint64, clockAfter);
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.setReplyScript({0, 2, gapMs});
    SimClock clock;
    SimulatedDevice device(sim, clock);
    device.open();
    device.setTimeouts(ComPort::terminalTimeouts());
    device.setReadWaits(true);
    device.write("\x1b]M", 3);
    sim.present({"", "1234", ""}, 0);
    char buf[150];
    QCOMPARE(device.read(buf, 150), firstRead);
    QCOMPARE(clock.now(), clockAfter);

    // Silence: the read gives up after its total time-out.
    TerminalSimulator quiet(CardDeck::sample(), TerminalSimulator::Line::instant());
    SimClock quietClock;
    SimulatedDevice idle(quiet, quietClock);
    idle.open();
    idle.setTimeouts(ComPort::terminalTimeouts());
    idle.setReadWaits(true);
    QCOMPARE(idle.read(buf, 150), 0);
    QCOMPARE(quietClock.now(), 100);
}

void TestSimulatedDevice::factoryNamesAndUnplugging()
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    SimClock clock;
    SimulatedDevice* device = nullptr;
    ComPort port(simulatedDeviceFactory(sim, clock, {QStringLiteral("COM1")}, &device));
    QVERIFY(!port.ConnectPort(QStringLiteral("COM2")));
    QVERIFY(port.ConnectPort(QStringLiteral("COM1")));
    QVERIFY(device);
    device->unplug();
    port.sendStop();
    QCOMPARE(port.readUpTo(4).size(), 0);
    QCOMPARE(sim.received().size(), 0);
}

int runSimulatedDeviceTests(int argc, char** argv)
{
    TestSimulatedDevice t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_device.moc"
