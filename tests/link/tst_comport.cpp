#include "link/comport.h"
#include "link/qtserialdevice.h"
#include "link/systemserialdevice.h"
#include "tools/pty.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>

namespace {

QByteArray sent(const ComPort& port, int n)
{
    return QByteArray(reinterpret_cast<const char*>(port.sendBuffer().data()), n);
}

} // namespace

// The port across a real pseudo-terminal: the test plays the terminal on the master side.
class TestComPort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void silenceReturnsNothingAfterTheTimeout();
    void replyArrivingWholeIsReadWhole();
    void replyInChunksIsNotCut();
    void smallerCountLeavesTheRest();
    void shorterReadLeavesTheTail();
    void sendPurgesUnreadBytes();
    void sendReachesTheTerminal();
    void connectTwiceInARow();
    void unopenablePortsFail_data();
    void unopenablePortsFail();
    void nonPositiveCountTouchesNothing();
    void vanishedPortBehavesLikeNone();
    void portNames();

private:
    std::unique_ptr<PseudoTerminal> m_pty;
    std::unique_ptr<ComPort> m_port;
};

void TestComPort::init()
{
    m_pty = std::make_unique<PseudoTerminal>();
    QVERIFY(m_pty->isValid());
    m_port = std::make_unique<ComPort>(qtSerialDeviceFactory());
    QVERIFY(m_port->ConnectPort(m_pty->slavePath()));
}

void TestComPort::cleanup()
{
    m_port.reset();
    m_pty.reset();
}

void TestComPort::silenceReturnsNothingAfterTheTimeout()
{
    QElapsedTimer t;
    t.start();
    QCOMPARE(m_port->readUpTo(150).size(), 0);
    const qint64 elapsed = t.elapsed();
    QVERIFY2(elapsed >= 90 && elapsed < 1000, qPrintable(QString::number(elapsed)));
}

void TestComPort::replyArrivingWholeIsReadWhole()
{
    const QByteArray reply("\x1B\x42"
                           "123B%ABC?");
    m_pty->write(reply);
    QTest::qWait(20);
    QElapsedTimer t;
    t.start();
    QCOMPARE(m_port->readUpTo(150).size(), reply.size());
    QVERIFY2(t.elapsed() < 100, "a whole reply is returned once the line is quiet, before the total time-out");
    QCOMPARE(m_port->lastRead(), reply);
}

void TestComPort::replyInChunksIsNotCut()
{
    // Bytes delivered in bursts a few milliseconds apart, as a USB adapter does.
    std::thread terminal([this] {
        for (int i = 0; i < 4; ++i) {
            m_pty->write(QByteArray("\x1B\x42"
                                    "12345",
                                    i == 0 ? 7 : 5)
                             .right(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(8));
        }
    });
    QTest::qWait(2);
    const int n = int(m_port->readUpTo(150).size());
    terminal.join();
    QCOMPARE(n, 20);
}

void TestComPort::smallerCountLeavesTheRest()
{
    m_pty->write(QByteArray("\x1B"
                            "abcdefg"));
    QTest::qWait(20);
    QCOMPARE(m_port->readUpTo(4).size(), 4);
    QCOMPARE(m_port->lastRead(), QByteArray("\x1B"
                                            "abc"));
    QCOMPARE(m_port->readUpTo(150).size(), 4);
    QCOMPARE(m_port->lastRead(), QByteArray("defg"));
}

void TestComPort::shorterReadLeavesTheTail()
{
    m_pty->write(QByteArray("ABCDEFGH"));
    QTest::qWait(20);
    QCOMPARE(m_port->readUpTo(150).size(), 8);
    m_pty->write(QByteArray("xy"));
    QTest::qWait(20);
    QCOMPARE(m_port->readUpTo(150).size(), 2);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(m_port->receiveBuffer().data()), 8), QByteArray("xyCDEFGH"));
}

void TestComPort::sendPurgesUnreadBytes()
{
    m_pty->write(QByteArray("stale reply"));
    QTest::qWait(20);
    m_port->sendStop();
    QCOMPARE(m_port->readUpTo(150).size(), 0);
}

void TestComPort::sendReachesTheTerminal()
{
    QCOMPARE(sent(*m_port, 3), QByteArray("\x1B\x42\x4D"));
    m_port->sendReadCommand();
    QCOMPARE(m_pty->read(500), QByteArray("\x1B\x42\x4D"));
    m_port->WriteBytes(QByteArray(233, 'x'));
    QByteArray got;
    for (int i = 0; i < 20 && got.size() < 233; ++i)
        got += m_pty->read(100);
    QCOMPARE(got.size(), 233);
}

void TestComPort::connectTwiceInARow()
{
    m_port->sendCommand("\x77");
    QVERIFY(m_port->ConnectPort(m_pty->slavePath()));
    QCOMPARE(m_port->PortHandle(), ComPort::Handle::Open);
    QCOMPARE(sent(*m_port, 3), QByteArray("\x1B\x42\x4D"));
    m_pty->write(QByteArray("\x1B"
                            "x?"));
    QTest::qWait(20);
    QCOMPARE(m_port->readUpTo(150).size(), 3);
}

void TestComPort::unopenablePortsFail_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing device") << QStringLiteral("/dev/does-not-exist-stripewell");
    QTest::newRow("empty") << QString();
    QTest::newRow("not a tty") << QStringLiteral("/dev/null");
    QTest::newRow("directory") << QStringLiteral("/tmp");
    QTest::newRow("plain file") << QStringLiteral("CMakeCache.txt.none");
}

void TestComPort::unopenablePortsFail()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    if (name.endsWith(QLatin1String(".none"))) {
        name = dir.filePath(QStringLiteral("plain"));
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(!m_port->ConnectPort(name));
    QCOMPARE(m_port->PortHandle(), ComPort::Handle::Failed);
    m_pty->write(QByteArray("\x1B"
                            "abc?"));
    QCOMPARE(m_port->readUpTo(150).size(), 0);
    m_port->sendReadCommand();
    QCOMPARE(m_pty->read(50), QByteArray());
    // The next connection attempt starts afresh.
    QVERIFY(m_port->ConnectPort(m_pty->slavePath()));
}

void TestComPort::nonPositiveCountTouchesNothing()
{
    m_pty->write(QByteArray("\x55"));
    QTest::qWait(20);
    QCOMPARE(m_port->readUpTo(150), QByteArray("\x55"));
    m_pty->write(QByteArray("\x1B"
                            "zz"));
    QTest::qWait(20);
    QCOMPARE(m_port->readUpTo(0), QByteArray());
    QCOMPARE(m_port->readUpTo(-5), QByteArray());
    QCOMPARE(int(m_port->receiveBuffer()[0]), 0x55);
    QCOMPARE(m_port->readUpTo(150).size(), 3);
}

void TestComPort::vanishedPortBehavesLikeNone()
{
    m_pty.reset(); // the adapter is pulled out
    QCOMPARE(m_port->readUpTo(150).size(), 0);
    m_port->sendReadCommand();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 5; ++i)
        QCOMPARE(m_port->readUpTo(150).size(), 0);
    QVERIFY2(t.elapsed() < 1000, "reads of a vanished port return at once or within their time-out");
    QVERIFY(m_port->lost());
    m_pty = std::make_unique<PseudoTerminal>();
    QVERIFY(m_port->ConnectPort(m_pty->slavePath()));
    QVERIFY(!m_port->lost());
    m_pty->write(QByteArray("\x1B"
                            "k?"));
    QTest::qWait(20);
    QCOMPARE(m_port->readUpTo(150).size(), 3);
}

void TestComPort::portNames()
{
    QTemporaryDir dir;
    const QDir work(dir.path());
#ifndef Q_OS_WIN
    QCOMPARE(portSystemLocation(QStringLiteral("COM1"), work), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(portSystemLocation(QStringLiteral("COM8"), work), QStringLiteral("/dev/ttyS7"));
    QVERIFY(m_pty->linkAs(work.filePath(QStringLiteral("COM3"))));
    QCOMPARE(portSystemLocation(QStringLiteral("COM3"), work), work.filePath(QStringLiteral("COM3")));
    QCOMPARE(portSystemLocation(QStringLiteral("com3"), work), work.filePath(QStringLiteral("COM3")));
    QCOMPARE(portSystemLocation(QStringLiteral("Com2"), work), QStringLiteral("/dev/ttyS1"));
    QCOMPARE(portSystemLocation(QStringLiteral("COM9"), work), QStringLiteral("/dev/COM9"));
    QCOMPARE(portSystemLocation(QStringLiteral("ttyUSB0"), work), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(portSystemLocation(QStringLiteral("/dev/pts/9"), work), QStringLiteral("/dev/pts/9"));
    // A COM link in the working directory opens the device it points to (once
    // the fixture's port lets it go: one device is one lock, whatever its name).
    QDir::setCurrent(dir.path());
    ComPort holder(qtSerialDeviceFactory());
    QVERIFY(!holder.ConnectPort(QStringLiteral("COM3")));
    QCOMPARE(holder.openFailure(), QStringLiteral("занят другой программой"));
    m_port->ClosePort();
    ComPort viaLink(qtSerialDeviceFactory());
    QVERIFY(viaLink.ConnectPort(QStringLiteral("COM3")));
    viaLink.sendReadCommand();
    QCOMPARE(m_pty->read(500), QByteArray("\x1B\x42\x4D"));
#endif
}

int runComPortTests(int argc, char** argv)
{
    TestComPort t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_comport.moc"
