#include "link/commandset.h"

#include <QTest>

using namespace CommandSet;

Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

QByteArray reply(const char* data)
{
    return QByteArray("\x1B\x00", 2) + QByteArray(data);
}

} // namespace

class TestCommandSet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trackBoxes_data();
    void trackBoxes();
    void readCommands_data();
    void readCommands();
    void track2CommandKeepsThirdByte();
    void stopCommandTouchesTwoBytes();
    void parsers_data();
    void parsers();
    void staleBytesAreNotPartOfTheReply();
    void wireText();
};

void TestCommandSet::trackBoxes_data()
{
    QTest::addColumn<bool>("b1");
    QTest::addColumn<bool>("b2");
    QTest::addColumn<bool>("b3");
    QTest::addColumn<int>("choice"); // -1: unchanged
    QTest::addColumn<bool>("forced");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("1") << true << false << false << 0 << false << true;
    QTest::newRow("2") << false << true << false << 1 << false << true;
    QTest::newRow("3") << false << false << true << 2 << false << true;
    QTest::newRow("1+2") << true << true << false << 3 << false << true;
    QTest::newRow("2+3") << false << true << true << 4 << false << true;
    QTest::newRow("1+2+3") << true << true << true << 5 << false << true;
    QTest::newRow("1+3 turns 2 on") << true << false << true << 5 << true << true;
    QTest::newRow("none") << false << false << false << -1 << false << false;
}

void TestCommandSet::trackBoxes()
{
    QFETCH(bool, b1);
    QFETCH(bool, b2);
    QFETCH(bool, b3);
    QFETCH(int, choice);
    QFETCH(bool, forced);
    QFETCH(bool, enabled);
    const BoxSelection s = selectTracks(b1, b2, b3);
    QCOMPARE(s.choice.value_or(-1), choice);
    QCOMPARE(s.turnTrack2On, forced);
    QCOMPARE(s.startEnabled, enabled);
    if (choice >= 0) {
        QCOMPARE(choiceCarries(choice, 1), b1);
        QCOMPARE(choiceCarries(choice, 3), b3);
    }
}

void TestCommandSet::readCommands_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("Track 1") << 0 << QByteArray("\x1B\x42\x4D") << QStringLiteral("Track 1");
    QTest::newRow("Track 2") << 1 << QByteArray("\x1B\x5D\x4D") << QStringLiteral("Track 2");
    QTest::newRow("Track 3") << 2 << QByteArray("\x1B\x54\x5D") << QStringLiteral("Track 3");
    QTest::newRow("Track 1 & 2") << 3 << QByteArray("\x1B\x42\x54") << QStringLiteral("Track 1 & 2");
    QTest::newRow("Track 2 & 3") << 4 << QByteArray("\x1B\x42\x5D") << QStringLiteral("Track 2 & 3");
    QTest::newRow("Track 1 & 2 & 3") << 5 << QByteArray("\x1B\x42\x74") << QStringLiteral("Track 1 & 2 & 3");
}

void TestCommandSet::readCommands()
{
    QFETCH(int, choice);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    Buffer b{};
    putDefaultReadCommand(b);
    putReadCommand(b, choice);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(b.data()), 3), bytes);
    QCOMPARE(trackChoiceText(choice), text);
}

void TestCommandSet::track2CommandKeepsThirdByte()
{
    Buffer b{};
    putReadCommand(b, Track123);
    putReadCommand(b, Track2);
    QCOMPARE(int(b[2]), 0x74);
    b[2] = 0x99;
    putReadCommand(b, Track2);
    QCOMPARE(int(b[1]), 0x5D);
    QCOMPARE(int(b[2]), 0x99);
}

void TestCommandSet::stopCommandTouchesTwoBytes()
{
    Buffer b{};
    putReadCommand(b, Track3);
    putStopCommand(b);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(b.data()), 3), QByteArray("\x1B\x30\x5D"));
}

void TestCommandSet::parsers_data()
{
    using Opt = std::optional<QByteArray>;
    QTest::addColumn<int>("choice");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<Opt>("t1");
    QTest::addColumn<Opt>("t2");
    QTest::addColumn<Opt>("t3");
    const Opt none;
    QTest::newRow("t1 skips index 2") << 0 << reply("%1234?") << true << Opt("1234") << none << none;
    QTest::newRow("t1 empty") << 0 << reply("%?") << true << Opt("") << none << none;
    QTest::newRow("t1 no terminator") << 0 << reply("%1234") << false << none << none << none;
    QTest::newRow("t1 not ESC") << 0 << QByteArray("x\x00%12?", 6) << false << none << none << none;
    QTest::newRow("t2 maps ' and =") << 1 << reply("12'3=4?") << true << none << Opt("12=3>4") << none;
    QTest::newRow("t3 read like t2") << 2 << reply("98'7?") << true << none << none << Opt("98=7");
    QTest::newRow("t3 only terminator") << 2 << reply("?") << true << none << none << Opt("");
    QTest::newRow("12") << 3 << reply("123BABC?") << true << Opt("ABC") << Opt("123") << none;
    QTest::newRow("12 ? in track 2") << 3 << reply("1?2BABC?") << true << Opt("") << Opt("1?2") << none;
    QTest::newRow("12 no mapping") << 3 << reply("1'2BX?") << true << Opt("X") << Opt("1'2") << none;
    // Track 1 is still on the line: a re-arm now would purge it.
    QTest::newRow("12 separator only") << 3 << reply("123BAB") << false << none << none << none;
    QTest::newRow("12 no separator") << 3 << reply("123?") << false << none << none << none;
    QTest::newRow("23") << 4 << reply("55A66?") << true << none << Opt("55") << Opt("66");
    QTest::newRow("23 no separator") << 4 << reply("5566") << false << none << none << none;
    QTest::newRow("23 separator only") << 4 << reply("55A66") << false << none << none << none;
    QTest::newRow("123") << 5 << reply("11A22B33?") << true << Opt("33") << Opt("11") << Opt("22");
    QTest::newRow("123 drops A..Y in t3") << 5 << reply("1A2CZ3B4?") << true << Opt("4") << Opt("1") << Opt("2Z3");
    QTest::newRow("123 A and B inside track 1")
        << 5 << reply("11A22BIVANOV/BORIS A?") << true << Opt("IVANOV/BORIS A") << Opt("11") << Opt("22");
    QTest::newRow("123 ? before B") << 5 << reply("1A2?B4") << false << none << none << none;
    QTest::newRow("123 no terminator") << 5 << reply("1A2B3") << false << none << none << none;
    QTest::newRow("123 not ESC") << 5
                                 << QByteArray("Z\x00"
                                               "1A2B3?",
                                               8)
                                 << false << none << none << none;
    QTest::newRow("empty") << 5 << QByteArray() << false << none << none << none;
}

void TestCommandSet::parsers()
{
    using Opt = std::optional<QByteArray>;
    QFETCH(int, choice);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, complete);
    QFETCH(Opt, t1);
    QFETCH(Opt, t2);
    QFETCH(Opt, t3);
    const ParsedReply p = parseReply(bytes, choice);
    QCOMPARE(p.complete, complete);
    QCOMPARE(p.track1, t1);
    QCOMPARE(p.track2, t2);
    QCOMPARE(p.track3, t3);
}

void TestCommandSet::staleBytesAreNotPartOfTheReply()
{
    // An earlier long reply left "B...?" behind in the buffer; the fragment that
    // arrived now must not be completed by it.
    Buffer b{};
    const QByteArray earlier = reply("1111B2222?");
    std::copy(earlier.begin(), earlier.end(), b.begin());
    const QByteArray now = reply("99");
    std::copy(now.begin(), now.end(), b.begin());
    const QByteArray arrived(reinterpret_cast<const char*>(b.data()), now.size());
    QVERIFY(!ParseTrack12Reply(arrived).complete);
    QVERIFY(!ParseSingleTrackReply(arrived, Track1).complete);
}

void TestCommandSet::wireText()
{
    QCOMPARE(wireToText(QByteArray("AB\x00"
                                   "CD",
                                   5)),
             QStringLiteral("AB"));
    QCOMPARE(wireToText(QByteArray("\xC0\xFF\xA8")), QStringLiteral("АяЁ"));
    QCOMPARE(textToWire(QStringLiteral("Яж1€")), QByteArray("\xDF\xE6"
                                                            "1\x88"));
    QCOMPARE(textToWire(QStringLiteral("漢")), QByteArray("?"));
}

int runCommandSetTests(int argc, char** argv)
{
    TestCommandSet t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_commandset.moc"
