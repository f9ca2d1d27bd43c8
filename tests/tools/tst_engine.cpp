#include "simtestutil.h"
#include "tools/terminalsimulator.h"

#include <QTest>

using Choice = TerminalSimulator::ReadChoice;
using Kind = TerminalSimulator::CommandKind;

Q_DECLARE_METATYPE(Choice)

namespace {

const QByteArray Esc("\x1b");
const QByteArray Terminator("\x1d\x1b\\");

// Track 2 and 3 hold both characters the numeric-track encoding changes.
const SimCard Card{"B12^AB/C^99", "12=34>5", "6=7>8"};

// Everything the engine sends up to `untilMs`, as (time, bytes) arrivals taken every millisecond.
QList<QPair<qint64, QByteArray>> drain(TerminalSimulator& sim, qint64 fromMs, qint64 untilMs)
{
    QList<QPair<qint64, QByteArray>> arrivals;
    for (qint64 t = fromMs; t <= untilMs; ++t) {
        const QByteArray out = sim.takeOutput(t);
        if (!out.isEmpty())
            arrivals.append({t, out});
    }
    return arrivals;
}

QByteArray joined(const QList<QPair<qint64, QByteArray>>& arrivals)
{
    QByteArray all;
    for (const auto& a : arrivals)
        all += a.second;
    return all;
}

QByteArray frameOf(const QByteArray& body)
{
    return Esc + 't' + body + Terminator;
}

TerminalSimulator writingSimulator(const QString& outcomes = {})
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    WriteScript script;
    if (!outcomes.isEmpty())
        WriteScript::fromPattern(outcomes, WriteTimings{}, script, nullptr);
    sim.setWriteScript(script);
    sim.receive("\x1b%B", 0);
    return sim;
}

} // namespace

// The engine alone: the command stream, read replies and their timing, write frames and answers.
class TestEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readReplies_data();
    void readReplies();
    void track2TakesAnyThirdByte_data();
    void track2TakesAnyThirdByte();
    void answersOnceAndOnlyWhenArmed();
    void stopDisarmsAndDropsWhatIsNotSent();
    void commandsSplitOrJoined_data();
    void commandsSplitOrJoined();
    void unknownBytesAreSkipped_data();
    void unknownBytesAreSkipped();
    void presentsAutomaticallyAfterArming();
    void replyDelayAndPieces();
    void pacingAt9600Baud();
    void recordsEveryByteWithItsTime();
    void framesDecoded_data();
    void framesDecoded();
    void frameAtCapacity();
    void framesRefused_data();
    void framesRefused();
    void frameArrivingInPieces();
    void pauseJudgedFromTheEarliestTheFrameCameIn_data();
    void pauseJudgedFromTheEarliestTheFrameCameIn();
    void outcomes_data();
    void outcomes();
    void patternThenWritten();
    void repeatingPattern();
    void randomMixIsSeeded();
    void badPatternsRejected_data();
    void badPatternsRejected();
    void encodedCardsFollowTheAnswers();
    void deckFiles_data();
    void deckFiles();
};

void TestEngine::readReplies_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("Track 1") << QByteArray("\x1b"
                                           "BM")
                             << QByteArray("\x1b"
                                           "B%B12^AB/C^99?");
    QTest::newRow("Track 2") << QByteArray("\x1b]M") << QByteArray("\x1b]12'34=5?");
    QTest::newRow("Track 3") << QByteArray("\x1bT]") << QByteArray("\x1bT6'7=8?");
    QTest::newRow("Track 1 & 2") << QByteArray("\x1b"
                                               "BT")
                                 << QByteArray("\x1b"
                                               "B12'34=5BB12^AB/C^99?");
    QTest::newRow("Track 2 & 3") << QByteArray("\x1b"
                                               "B]")
                                 << QByteArray("\x1b"
                                               "B12'34=5A6'7=8?");
    QTest::newRow("Track 1 & 2 & 3") << QByteArray("\x1b"
                                                   "Bt")
                                     << QByteArray("\x1b"
                                                   "B12'34=5A6'7=8BB12^AB/C^99?");
}

void TestEngine::readReplies()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.receive(command, 10);
    QVERIFY(sim.present(Card, 20));
    QCOMPARE(sim.takeOutput(19), QByteArray());
    QCOMPARE(sim.takeOutput(20), reply);
}

void TestEngine::track2TakesAnyThirdByte_data()
{
    QTest::addColumn<char>("third");
    QTest::newRow("M after a reset") << 'M';
    QTest::newRow("t of the last read command") << 't';
    QTest::newRow("B of the write start") << 'B';
    QTest::newRow("zero") << '\0';
    QTest::newRow("ESC") << '\x1b';
}

void TestEngine::track2TakesAnyThirdByte()
{
    QFETCH(char, third);
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.receive(QByteArray("\x1b]") + third, 0);
    QCOMPARE(sim.armedFor(), std::optional<Choice>(Choice::Track2));
    QCOMPARE(sim.commands().size(), 1);
    QCOMPARE(sim.skippedBytes(), QByteArray());
}

void TestEngine::answersOnceAndOnlyWhenArmed()
{
    TerminalSimulator sim(CardDeck({Card}), TerminalSimulator::Line::instant());
    QVERIFY(!sim.present(0));
    sim.receive("\x1b"
                "BM",
                1);
    QVERIFY(sim.present(2));
    QVERIFY(!sim.present(3));
    QCOMPARE(sim.presentedCards(), QList<SimCard>{Card});
    QCOMPARE(sim.armedFor(), std::nullopt);
}

void TestEngine::stopDisarmsAndDropsWhatIsNotSent()
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.setReplyScript({100, 1, 0});
    sim.receive("\x1b"
                "BM",
                0);
    sim.receive("\x1b"
                "0",
                5);
    QVERIFY(!sim.present(Card, 10));

    sim.receive("\x1b"
                "BM",
                20);
    QVERIFY(sim.present(Card, 20));
    sim.receive("\x1b"
                "0",
                50); // before the delayed reply went out
    QCOMPARE(joined(drain(sim, 50, 400)), QByteArray());
    QCOMPARE(sim.nextDueMs(), -1);
}

void TestEngine::commandsSplitOrJoined_data()
{
    QTest::addColumn<int>("chunk");
    QTest::newRow("all at once") << 0;
    QTest::newRow("byte by byte") << 1;
    QTest::newRow("two at a time") << 2;
    QTest::newRow("five at a time") << 5;
}

void TestEngine::commandsSplitOrJoined()
{
    QFETCH(int, chunk);
    const QByteArray stream = QByteArray("\x1b"
                                         "BT"
                                         "\x1b"
                                         "0"
                                         "\x1b]M"
                                         "\x1b%B") +
                              frameOf("1A2") + "\x1bj" + "\x1bT]" +
                              "\x1b"
                              "Bt";
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    const int step = chunk == 0 ? int(stream.size()) : chunk;
    for (int i = 0; i < stream.size(); i += step)
        sim.receive(stream.mid(i, step), i);

    QList<Kind> kinds;
    QByteArray bytes;
    for (const auto& c : sim.commands()) {
        kinds.append(c.kind);
        bytes += c.bytes;
    }
    const QList<Kind> expected{Kind::Read,  Kind::Stop,     Kind::Read, Kind::WriteStart,
                               Kind::Frame, Kind::FollowUp, Kind::Read, Kind::Read};
    QCOMPARE(kinds, expected);
    QCOMPARE(bytes, stream);
    QCOMPARE(sim.receivedBytes(), stream);
    QCOMPARE(sim.armedFor(), std::optional<Choice>(Choice::Track123));
    QCOMPARE(sim.encodedCards(), (QList<SimCard>{{"", "1", "2"}}));
}

void TestEngine::unknownBytesAreSkipped_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("skipped");
    QTest::newRow("junk before") << QByteArray("\x00\xff"
                                               "A\x1b"
                                               "BM",
                                               6)
                                 << QByteArray("\x00\xff"
                                               "A",
                                               3);
    QTest::newRow("unknown ESC command") << QByteArray("\x1bZ\x1b"
                                                       "BM")
                                         << QByteArray("\x1bZ");
    QTest::newRow("bad third byte") << QByteArray("\x1b"
                                                  "Bx\x1b"
                                                  "BM")
                                    << QByteArray("\x1b"
                                                  "Bx");
    QTest::newRow("ESC as third byte") << QByteArray("\x1b"
                                                     "B\x1b"
                                                     "BM")
                                       << QByteArray("\x1b"
                                                     "B");
    QTest::newRow("T without ]") << QByteArray("\x1bTM\x1b"
                                               "BM")
                                 << QByteArray("\x1bTM");
    QTest::newRow("% without B") << QByteArray("\x1b%x\x1b"
                                               "BM")
                                 << QByteArray("\x1b%x");
}

void TestEngine::unknownBytesAreSkipped()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, skipped);
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.receive(stream, 0);
    QCOMPARE(sim.skippedBytes(), skipped);
    QCOMPARE(sim.armedFor(), std::optional<Choice>(Choice::Track1));
    QVERIFY(!sim.inWriteSession());
}

void TestEngine::presentsAutomaticallyAfterArming()
{
    TerminalSimulator sim(CardDeck({Card, {"B2^X^1", "2", "3"}}), TerminalSimulator::Line::instant());
    sim.setPresentAfterMs(1500);
    sim.receive("\x1b"
                "BM",
                1000);
    QCOMPARE(sim.nextDueMs(), 2500);
    QCOMPARE(sim.takeOutput(2499), QByteArray());
    QCOMPARE(sim.takeOutput(2500), QByteArray("\x1b"
                                              "B%B12^AB/C^99?"));
    // Re-armed by the program: the next card of the deck, 1500 ms later.
    sim.receive("\x1b"
                "BM",
                2600);
    QCOMPARE(sim.takeOutput(5000), QByteArray("\x1b"
                                              "B%B2^X^1?"));
    QCOMPARE(sim.nextDueMs(), -1);
}

void TestEngine::replyDelayAndPieces()
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.setReplyScript({100, 3, 50});
    sim.receive("\x1b]M", 0);
    sim.present({"", "123456789", ""}, 0); // reply: 1B 5D + 9 digits + ? = 12 bytes
    const auto arrivals = drain(sim, 0, 1000);
    const QList<QPair<qint64, QByteArray>> expected{{100, QByteArray("\x1b]12")}, {150, "3456"}, {200, "789?"}};
    QCOMPARE(arrivals, expected);
}

void TestEngine::pacingAt9600Baud()
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.setLine({true, TerminalSimulator::Delivery::Uart});
    sim.receive("\x1b]M", 0);
    sim.present({"", "123456789", ""}, 0);
    QCOMPARE(sim.takeOutput(5).size(), 4); // 1.042 ms a byte
    QCOMPARE(sim.takeOutput(12).size(), 7);
    QCOMPARE(sim.takeOutput(13).size(), 1);
}

void TestEngine::recordsEveryByteWithItsTime()
{
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    sim.receive("\x1b", 7);
    sim.receive("B", 9);
    sim.receive("M\x1b"
                "0",
                40);
    QCOMPARE(sim.received().size(), 3);
    QCOMPARE(sim.received()[1].atMs, 9);
    QCOMPARE(sim.received()[2].bytes, QByteArray("M\x1b"
                                                 "0"));
    // A command is stamped with the time it was complete.
    QCOMPARE(sim.commands()[0].atMs, 40);
}

void TestEngine::framesDecoded_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<SimCard>("card");
    QTest::addColumn<QString>("carried");
    QTest::newRow("Track 1: AB") << QByteArray("BAB") << SimCard{"AB", "", ""} << QStringLiteral("1");
    QTest::newRow("Track 2") << QByteArray("12'34=5") << SimCard{"", "12=34>5", ""} << QStringLiteral("2");
    QTest::newRow("Track 3") << QByteArray("A6'7=8") << SimCard{"", "", "6=7>8"} << QStringLiteral("3");
    QTest::newRow("Track 1 & 2") << QByteArray("1'2B=>") << SimCard{"=>", "1=2", ""} << QStringLiteral("12");
    QTest::newRow("Track 2 & 3: 1 and 2") << QByteArray("1A2") << SimCard{"", "1", "2"} << QStringLiteral("23");
    QTest::newRow("Track 1 & 2 & 3") << QByteArray("1'A2=BBAB^A") << SimCard{"BAB^A", "1=", "2>"}
                                     << QStringLiteral("123");
}

void TestEngine::framesDecoded()
{
    QFETCH(QByteArray, body);
    QFETCH(SimCard, card);
    QFETCH(QString, carried);
    TerminalSimulator sim = writingSimulator();
    sim.receive(frameOf(body), 10);
    sim.receive("\x1bj", 110);
    QCOMPARE(sim.frames().size(), 1);
    const auto& f = sim.frames()[0];
    QCOMPARE(f.problem, QString());
    QCOMPARE(f.card, card);
    QString got;
    for (int t = 0; t < 3; ++t) {
        if (f.carries[t])
            got += QString::number(t + 1);
    }
    QCOMPARE(got, carried);
    QCOMPARE(f.atMs, 10);
    QCOMPARE(sim.takeOutput(110), QByteArray("\x1b"
                                             "00p"));
    QCOMPARE(sim.encodedCards(), QList<SimCard>{card});
}

void TestEngine::frameAtCapacity()
{
    const SimCard card{QByteArray(79, 'Z'), QByteArray(39, '1') + '=', QByteArray(106, '2') + '>'};
    const QByteArray body = TerminalSimulator::toNumericWire(card.track2) + 'A' +
                            TerminalSimulator::toNumericWire(card.track3) + 'B' + card.track1;
    const QByteArray frame = frameOf(body);
    QCOMPARE(frame.size(), 233);
    TerminalSimulator sim = writingSimulator();
    sim.receive(frame + "\x1bj", 0);
    QCOMPARE(sim.frames()[0].problem, QString());
    QCOMPARE(sim.encodedCards(), QList<SimCard>{card});
}

void TestEngine::framesRefused_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("session");
    QTest::addColumn<QString>("problem");
    QTest::newRow("no write start") << frameOf("BAB") << false << QStringLiteral("no write start before the frame");
    QTest::newRow("no terminator") << QByteArray("\x1btBAB") << true << QStringLiteral("no terminator GS ESC '\\'");
    QTest::newRow("ESC without GS") << QByteArray("\x1btBAB\x1b\\") << true
                                    << QStringLiteral("no terminator GS ESC '\\'");
    QTest::newRow("no track") << frameOf("") << true << QStringLiteral("no track in the frame");
    QTest::newRow("track 1 empty") << frameOf("1B") << true << QStringLiteral("track 1 is empty");
    QTest::newRow("track 1 of 80") << frameOf('B' + QByteArray(80, 'Z')) << true
                                   << QStringLiteral("track 1 holds 80 characters, more than its 79");
    QTest::newRow("track 2 of 41") << frameOf(QByteArray(41, '1')) << true
                                   << QStringLiteral("track 2 holds 41 characters, more than its 40");
    QTest::newRow("track 3 of 108") << frameOf('A' + QByteArray(108, '1')) << true
                                    << QStringLiteral("track 3 holds 108 characters, more than its 107");
    QTest::newRow("lower case on track 1")
        << frameOf("Babc") << true << QStringLiteral("track 1 cannot hold the byte 61");
    QTest::newRow("letter on track 2") << frameOf("1X2") << true << QStringLiteral("track 2 cannot hold the byte 58");
}

void TestEngine::framesRefused()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, session);
    QFETCH(QString, problem);
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line::instant());
    if (session)
        sim.receive("\x1b%B", 0);
    sim.receive(stream, 1);
    sim.receive("\x1bj", 2);
    QCOMPARE(sim.frames().size(), 1);
    QCOMPARE(sim.frames()[0].problem, problem);
    QCOMPARE(sim.takeOutput(2), QByteArray("\x1b"
                                           "0qq"));
    QCOMPARE(sim.encodedCards(), QList<SimCard>());
}

void TestEngine::frameArrivingInPieces()
{
    TerminalSimulator sim = writingSimulator();
    const QByteArray stream = frameOf("1A2B" + QByteArray(70, 'Q')) + "\x1bj";
    for (qsizetype i = 0; i < stream.size(); ++i)
        sim.receive(stream.mid(i, 1), i);
    QCOMPARE(sim.frames().size(), 1);
    QCOMPARE(sim.frames()[0].atMs, 1); // stamped when its lead-in ESC 't' is complete
    QCOMPARE(sim.encodedCards(), (QList<SimCard>{{QByteArray(70, 'Q'), "1", "2"}}));
}

// A frame for track 1 (8 bytes on the line, then 200 ms of pause) read with a
// moment the line was last seen empty: a reader the scheduler kept away reads
// it late, and the pause counts from the earliest it can have come.
void TestEngine::pauseJudgedFromTheEarliestTheFrameCameIn_data()
{
    QTest::addColumn<qint64>("writeStartReadMs");
    QTest::addColumn<qint64>("frameQuietMs");
    QTest::addColumn<qint64>("frameReadMs");
    QTest::addColumn<qint64>("followUpMs");
    QTest::addColumn<int>("faults");
    QTest::newRow("read at once, pause kept") << 0LL << 20LL << 20LL << 20 + 9 + 200LL << 0;
    QTest::newRow("read at once, too soon") << 0LL << 20LL << 20LL << 20 + 9 + 150LL << 1;
    QTest::newRow("read 40 ms late, pause kept") << 0LL << 20LL << 60LL << 20 + 9 + 200LL << 0;
    QTest::newRow("read 40 ms late, too soon") << 0LL << 20LL << 60LL << 20 + 9 + 150LL << 1;
    // The write start read late holds the frame behind it on the line as stamped;
    // the frame, read just after, may have come right behind the start's own bytes.
    QTest::newRow("write start read late, pause kept") << 40LL << 40LL << 40LL << 40 + 8 + 197LL << 0;
    QTest::newRow("write start read late, too soon") << 40LL << 40LL << 40LL << 40 + 8 + 150LL << 1;
}

void TestEngine::pauseJudgedFromTheEarliestTheFrameCameIn()
{
    QFETCH(qint64, writeStartReadMs);
    QFETCH(qint64, frameQuietMs);
    QFETCH(qint64, frameReadMs);
    QFETCH(qint64, followUpMs);
    QFETCH(int, faults);
    TerminalSimulator sim(CardDeck::sample(), TerminalSimulator::Line{});
    sim.receive("\x1b%B", writeStartReadMs, 0);
    sim.receive(frameOf("BAB"), frameReadMs, frameQuietMs);
    sim.receive("\x1bj", followUpMs, followUpMs - 1);
    QCOMPARE(sim.timingFaults(), faults);
}

void TestEngine::outcomes_data()
{
    QTest::addColumn<QString>("letter");
    QTest::addColumn<bool>("encoded");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QByteArray>("bytes");
    using T = QList<qint64>;
    QTest::newRow("W") << "W" << true << T{0}
                       << QByteArray("\x1b"
                                     "00p");
    QTest::newRow("N") << "N" << false << T{0}
                       << QByteArray("\x1b"
                                     "0qq");
    QTest::newRow("X") << "X" << false << T{} << QByteArray();
    QTest::newRow("V") << "V" << false << T{0}
                       << QByteArray("\x1b"
                                     "000");
    QTest::newRow("P") << "P" << true << T{0, 300, 600, 900}
                       << QByteArray("\x1b"
                                     "00p");
    QTest::newRow("Q") << "Q" << false << T{0, 300, 600, 900}
                       << QByteArray("\x1b"
                                     "0qq");
    QTest::newRow("D") << "D" << true << T{700}
                       << QByteArray("\x1b"
                                     "00p");
    QTest::newRow("J") << "J" << true << T{0, 300}
                       << QByteArray("\x00\x55\xff\x1b"
                                     "00p",
                                     7);
    QTest::newRow("E") << "E" << false << T{0} << QByteArray("\x1b");
}

void TestEngine::outcomes()
{
    QFETCH(QString, letter);
    QFETCH(bool, encoded);
    QFETCH(QList<qint64>, times);
    QFETCH(QByteArray, bytes);
    TerminalSimulator sim = writingSimulator(letter);
    sim.receive(frameOf("BAB") + "\x1bj", 0);
    const auto arrivals = drain(sim, 0, 3000);
    QList<qint64> gotTimes;
    for (const auto& a : arrivals)
        gotTimes.append(a.first);
    QCOMPARE(gotTimes, times);
    QCOMPARE(joined(arrivals), bytes);
    QCOMPARE(sim.encodedCards().size(), encoded ? 1 : 0);
    QCOMPARE(sim.answers().size(), 1);
    QCOMPARE(QString(QLatin1Char(sim.answers()[0].letter)), letter);
}

void TestEngine::patternThenWritten()
{
    TerminalSimulator sim = writingSimulator(QStringLiteral("NX"));
    QByteArray out;
    for (int i = 0; i < 4; ++i) {
        sim.receive(frameOf("BAB") + "\x1bj", i * 500);
        out += sim.takeOutput(i * 500);
    }
    QCOMPARE(out, QByteArray("\x1b"
                             "0qq"
                             "\x1b"
                             "00p"
                             "\x1b"
                             "00p"));
}

void TestEngine::repeatingPattern()
{
    WriteScript script;
    QVERIFY(WriteScript::fromPattern(QStringLiteral("WN*"), {}, script, nullptr));
    QString letters;
    for (int i = 0; i < 5; ++i)
        letters += QLatin1Char(script.next().letter);
    QCOMPARE(letters, QStringLiteral("WNWNW"));
}

void TestEngine::randomMixIsSeeded()
{
    auto mix = [](const QString& pattern) {
        WriteScript script;
        if (!WriteScript::fromPattern(pattern, {}, script, nullptr))
            return QString();
        QString letters;
        for (int i = 0; i < 400; ++i)
            letters += QLatin1Char(script.next().letter);
        return letters;
    };
    const QString a = mix(QStringLiteral("random:7"));
    QCOMPARE(mix(QStringLiteral("random:7")), a);
    QVERIFY(mix(QStringLiteral("random:8")) != a);
    for (char c : QByteArray(WriteScript::Letters))
        QVERIFY2(a.contains(QLatin1Char(c)), &c);
    const QString some = mix(QStringLiteral("random:7:WN"));
    QVERIFY(some.contains(QLatin1Char('W')) && some.contains(QLatin1Char('N')));
    QCOMPARE(some.count(QLatin1Char('W')) + some.count(QLatin1Char('N')), 400);
}

void TestEngine::badPatternsRejected_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::newRow("unknown letter") << QStringLiteral("WZ");
    QTest::newRow("lower case") << QStringLiteral("w");
    QTest::newRow("random without seed") << QStringLiteral("random:");
    QTest::newRow("random, bad seed") << QStringLiteral("random:x");
    QTest::newRow("random, bad letter") << QStringLiteral("random:1:WZ");
    QTest::newRow("empty repeat") << QStringLiteral("*");
}

void TestEngine::badPatternsRejected()
{
    QFETCH(QString, pattern);
    WriteScript script;
    QString error;
    QVERIFY(!WriteScript::fromPattern(pattern, {}, script, &error));
    QVERIFY(!error.isEmpty());
}

void TestEngine::encodedCardsFollowTheAnswers()
{
    TerminalSimulator sim = writingSimulator(QStringLiteral("WNNWXW"));
    const QList<QByteArray> sent{"B1", "B2", "B2", "B2", "B3", "B4"};
    for (qsizetype i = 0; i < sent.size(); ++i)
        sim.receive(frameOf(sent[i]) + "\x1bj", i * 500);
    QCOMPARE(sim.encodedCards(), (QList<SimCard>{{"1", "", ""}, {"2", "", ""}, {"4", "", ""}}));
    QCOMPARE(sim.frames().size(), 6);
    // ESC 'j' with no frame since the last answer is no attempt and leaves the script alone.
    sim.receive("\x1bj", 4000);
    QCOMPARE(sim.answers().last().letter, '-');
    QCOMPARE(sim.takeOutput(4000).right(4), QByteArray("\x1b"
                                                       "0qq"));
}

void TestEngine::deckFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<SimCard>>("cards");
    QTest::addColumn<bool>("ok");
    QTest::newRow("three fields, comments, blank lines, CRLF")
        << QByteArray("# deck\r\n\r\nB1^A B^2|1=2|3\r\n  # indented comment\n|4>|\n")
        << QList<SimCard>{{"B1^A B^2", "1=2", "3"}, {"", "4>", ""}} << true;
    QTest::newRow("missing fields are empty")
        << QByteArray("B1\nB2|5") << QList<SimCard>{{"B1", "", ""}, {"B2", "5", ""}} << true;
    QTest::newRow("four fields") << QByteArray("a|b|c|d\n") << QList<SimCard>{} << false;
    QTest::newRow("no card") << QByteArray("# only a comment\n") << QList<SimCard>{} << false;
}

void TestEngine::deckFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<SimCard>, cards);
    QFETCH(bool, ok);
    CardDeck deck;
    QString error;
    QCOMPARE(CardDeck::parse(text, deck, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
    QCOMPARE(deck.cards(), cards);
    if (ok) {
        // The deck starts again when it runs out.
        for (const SimCard& c : cards)
            QCOMPARE(deck.next(), c);
        QCOMPARE(deck.next(), cards[0]);
    }
}

int runEngineTests(int argc, char** argv)
{
    TestEngine t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_engine.moc"
