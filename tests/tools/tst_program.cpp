#include "simtestutil.h"
#include "tools/simcard.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Generous bounds for events that normally come within milliseconds; they only end a broken run.
constexpr int EventTimeoutMs = 10000;

const SimCard DeckCard{"B4000001234567899^IVANOV/IVAN^2512101", "4000001234567899=2512101>", "12=34>56"};

QByteArray undoNumeric(QByteArray bytes)
{
    for (char& c : bytes)
        c = c == '\x27' ? '=' : c == '\x3d' ? '>' : c;
    return bytes;
}

// The reply's texts, read by the layouts of the command set: enough of a parser to
// check the wire, independent of the program's own parsers.
SimCard textsOfReply(const QByteArray& command, const QByteArray& reply)
{
    SimCard card;
    if (!reply.startsWith('\x1b') || !reply.endsWith('?') || reply.size() < 3)
        return card;
    const QByteArray data = reply.mid(2, reply.size() - 3);
    const qsizetype a = data.indexOf('A');
    const qsizetype b = data.indexOf('B');
    const QByteArray kind = command.mid(1);
    if (kind == "BM") {
        card.track1 = data.startsWith('%') ? data.mid(1) : QByteArray("(no %)");
    } else if (kind.startsWith(']')) {
        card.track2 = undoNumeric(data);
    } else if (kind == "T]") {
        card.track3 = undoNumeric(data);
    } else if (kind == "BT") {
        card.track2 = undoNumeric(data.left(b));
        card.track1 = data.mid(b + 1);
    } else if (kind == "B]") {
        card.track2 = undoNumeric(data.left(a));
        card.track3 = undoNumeric(data.mid(a + 1));
    } else if (kind == "Bt") {
        card.track2 = undoNumeric(data.left(a));
        card.track3 = undoNumeric(data.mid(a + 1, b - a - 1));
        card.track1 = data.mid(b + 1);
    }
    return card;
}

} // namespace

// The simulator as a program: the test is the card program on the slave side of
// the simulator's pseudo-terminal, and drives the simulator's standard input.
class TestSimulatorProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void readsEveryTrackChoice_data();
    void readsEveryTrackChoice();
    void presentWhenNotArmedIsLost();
    void writesACard();
    void recordsTheWire();
    void keepsRunningAfterStdinEndsUnlessAsked();
    void stopsCleanlyOnSigterm();

private:
    bool start(QProcess& process, const QStringList& extra);
    QByteArray waitLine(QProcess& process, const QByteArray& prefix);
    void send(const QByteArray& bytes);
    void tell(const QByteArray& line);
    QByteArray receive(qsizetype count, char last = 0);

    QTemporaryDir m_dir;
    QProcess m_sim;
    QByteArray m_device;
    int m_fd = -1;
    QByteArray m_sent;
};

bool TestSimulatorProgram::start(QProcess& process, const QStringList& extra)
{
    process.setProgram(QStringLiteral(STRIPEWELL_SIM_PATH));
    process.setArguments(extra);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    return process.waitForStarted(EventTimeoutMs);
}

// Reads stdout lines until one begins with `prefix`; returns it without the newline.
QByteArray TestSimulatorProgram::waitLine(QProcess& process, const QByteArray& prefix)
{
    for (;;) {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith(prefix))
                return line;
        }
        if (!process.waitForReadyRead(EventTimeoutMs))
            return {};
    }
}

void TestSimulatorProgram::send(const QByteArray& bytes)
{
    QCOMPARE(::write(m_fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    m_sent += bytes;
}

// A line on the simulator's standard input, handed over before the test goes on to poll the device.
void TestSimulatorProgram::tell(const QByteArray& line)
{
    m_sim.write(line);
    QVERIFY(m_sim.waitForBytesWritten(EventTimeoutMs));
}

// Bytes from the simulator until `count` have come or, with `last`, that byte has.
QByteArray TestSimulatorProgram::receive(qsizetype count, char last)
{
    QByteArray got;
    while (got.size() < count && !(last && got.endsWith(last))) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, EventTimeoutMs) <= 0)
            break;
        char buf[512];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0)
            got.append(buf, n);
    }
    return got;
}

void TestSimulatorProgram::initTestCase()
{
    QFile deck(m_dir.filePath(QStringLiteral("deck.txt")));
    QVERIFY(deck.open(QIODevice::WriteOnly));
    deck.write("# one card, so every read shows it\n" + DeckCard.toLine() + "\n");
    deck.close();
    QVERIFY(start(m_sim,
                  {QStringLiteral("--deck"), deck.fileName(), QStringLiteral("--present-after"), QStringLiteral("0"),
                   QStringLiteral("--link"), m_dir.filePath(QStringLiteral("COM1")), QStringLiteral("--write-outcomes"),
                   QStringLiteral("NW"), QStringLiteral("--record"), m_dir.filePath(QStringLiteral("wire.log")),
                   QStringLiteral("--encoded"), m_dir.filePath(QStringLiteral("encoded.txt"))}));
    const QByteArray first = waitLine(m_sim, "");
    QVERIFY2(first.startsWith("device /dev/"), first.constData());
    m_device = first.mid(7);
    QCOMPARE(waitLine(m_sim, "link "), "link " + m_dir.filePath(QStringLiteral("COM1")).toLocal8Bit());
    QCOMPARE(QFileInfo(m_dir.filePath(QStringLiteral("COM1"))).symLinkTarget().toLocal8Bit(), m_device);

    m_fd = ::open(m_device.constData(), O_RDWR | O_NOCTTY);
    QVERIFY(m_fd >= 0);
    termios tio{};
    QCOMPARE(tcgetattr(m_fd, &tio), 0);
    cfmakeraw(&tio);
    QCOMPARE(tcsetattr(m_fd, TCSANOW, &tio), 0);
}

void TestSimulatorProgram::cleanupTestCase()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_sim.state() != QProcess::NotRunning) {
        m_sim.kill();
        m_sim.waitForFinished(EventTimeoutMs);
    }
}

void TestSimulatorProgram::readsEveryTrackChoice_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("armed");
    QTest::addColumn<SimCard>("texts");
    const SimCard& c = DeckCard;
    QTest::newRow("Track 1") << QByteArray("\x1b"
                                           "BM")
                             << QByteArray("armed track1") << SimCard{c.track1, "", ""};
    QTest::newRow("Track 2") << QByteArray("\x1b]M") << QByteArray("armed track2") << SimCard{"", c.track2, ""};
    QTest::newRow("Track 3") << QByteArray("\x1bT]") << QByteArray("armed track3") << SimCard{"", "", c.track3};
    QTest::newRow("Track 1 & 2") << QByteArray("\x1b"
                                               "BT")
                                 << QByteArray("armed track12") << SimCard{c.track1, c.track2, ""};
    QTest::newRow("Track 2 & 3") << QByteArray("\x1b"
                                               "B]")
                                 << QByteArray("armed track23") << SimCard{"", c.track2, c.track3};
    QTest::newRow("Track 1 & 2 & 3") << QByteArray("\x1b"
                                                   "Bt")
                                     << QByteArray("armed track123") << c;
}

void TestSimulatorProgram::readsEveryTrackChoice()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, armed);
    QFETCH(SimCard, texts);
    send(command);
    QCOMPARE(waitLine(m_sim, "armed "), armed);
    tell("present\n");
    const QByteArray reply = receive(1000, '?');
    QCOMPARE(reply.left(2), command.left(2));
    QCOMPARE(textsOfReply(command, reply), texts);
    // On the numeric tracks "=" travels as the apostrophe.
    if (!texts.track2.isEmpty())
        QVERIFY(reply.contains('\x27') && !reply.contains("=2512101"));
}

void TestSimulatorProgram::presentWhenNotArmedIsLost()
{
    send("\x1b"
         "BM"
         "\x1b"
         "0");
    QCOMPARE(waitLine(m_sim, "stopped"), QByteArray("stopped"));
    tell("present B9^X^1|1|2\n");
    QCOMPARE(waitLine(m_sim, "not-armed"), QByteArray("not-armed"));
    send("\x1b"
         "BM");
    QCOMPARE(waitLine(m_sim, "armed "), QByteArray("armed track1"));
    tell("present B9^X^1|1|2\n");
    QCOMPARE(receive(100, '?'), QByteArray("\x1b"
                                           "B%B9^X^1?"));
}

void TestSimulatorProgram::writesACard()
{
    const QByteArray frame("\x1btB"
                           "AB"
                           "\x1d\x1b\\");
    send("\x1b%B");
    // ESC 'j' right behind the frame reaches the terminal before its pause is over.
    send(frame);
    send("\x1bj");
    QCOMPARE(receive(4), QByteArray("\x1b"
                                    "0qq"));
    QVERIFY(waitLine(m_sim, "timing-fault ").contains("the terminal needs 200 ms"));
    // With the pause kept the terminal answers as its script says: not written, then written.
    for (const char* answer : {"\x1b"
                               "0qq",
                               "\x1b"
                               "00p"}) {
        send(frame);
        QTest::qSleep(10 + 200); // the frame's 8 bytes on the line, then the pause for track 1
        send("\x1bj");
        QCOMPARE(receive(4), QByteArray(answer, 4));
    }
    QCOMPARE(waitLine(m_sim, "encoded "), QByteArray("encoded AB||"));
    QFile encoded(m_dir.filePath(QStringLiteral("encoded.txt")));
    QVERIFY(encoded.open(QIODevice::ReadOnly));
    QCOMPARE(encoded.readAll(), QByteArray("AB||\n"));
}

void TestSimulatorProgram::recordsTheWire()
{
    send("\x1b"
         "0");
    QCOMPARE(waitLine(m_sim, "stopped"), QByteArray("stopped"));
    QFile record(m_dir.filePath(QStringLiteral("wire.log")));
    QVERIFY(record.open(QIODevice::ReadOnly));
    QByteArray wire;
    qint64 previous = -1;
    int faultMarks = 0;
    for (const QByteArray& line : record.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        if (line.startsWith("# ")) {
            faultMarks += line.contains("timing-fault") ? 1 : 0;
            continue;
        }
        const qsizetype space = line.indexOf(' ');
        bool ok = false;
        const qint64 ms = line.left(space).toLongLong(&ok);
        QVERIFY2(ok && ms >= previous, line.constData());
        previous = ms;
        wire += QByteArray::fromHex(line.mid(space + 1));
    }
    QCOMPARE(wire.toHex(' '), m_sent.toHex(' '));
    QCOMPARE(faultMarks, 1); // the follow-up that came too soon
}

void TestSimulatorProgram::keepsRunningAfterStdinEndsUnlessAsked()
{
    QProcess background;
    QVERIFY(start(background, {QStringLiteral("--present-after"), QStringLiteral("1")}));
    const QByteArray device = waitLine(background, "device ").mid(7);
    background.closeWriteChannel();
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd,
                     "\x1b"
                     "BM",
                     3),
             ssize_t(3));
    QCOMPARE(waitLine(background, "presented "),
             QByteArray("presented track1 ") + CardDeck::sample().cards()[0].toLine());
    ::close(fd);
    background.terminate();
    QVERIFY(background.waitForFinished(EventTimeoutMs));

    QProcess foreground;
    QVERIFY(start(foreground, {QStringLiteral("--stdin-quit")}));
    QVERIFY(!waitLine(foreground, "device ").isEmpty());
    foreground.closeWriteChannel();
    QVERIFY(foreground.waitForFinished(EventTimeoutMs));
    QCOMPARE(foreground.exitStatus(), QProcess::NormalExit);
    QCOMPARE(foreground.exitCode(), 0);
}

void TestSimulatorProgram::stopsCleanlyOnSigterm()
{
    m_sim.terminate();
    QVERIFY(m_sim.waitForFinished(EventTimeoutMs));
    QCOMPARE(m_sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_sim.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("COM1"))));
    QVERIFY(!QFileInfo(m_dir.filePath(QStringLiteral("COM1"))).isSymLink());
}

int runSimulatorProgramTests(int argc, char** argv)
{
    TestSimulatorProgram t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_program.moc"
