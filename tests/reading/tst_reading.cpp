#include "appfixture.h"

#include "app/filedialogs.h"
#include "app/verifypanel.h"
#include "link/comport.h"
#include "reading/readloop.h"
#include "reading/replyassembler.h"
#include "writing/journal.h"
#include "writing/readsfile.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <deque>

namespace {

QByteArray reply(const QByteArray& data)
{
    return QByteArray("\x1B\x00", 2) + data;
}

void chooseTracks(TForm1* form1, bool t1, bool t2, bool t3)
{
    // Tick first, then untick, so that the boxes never pass through "none".
    if (t1)
        control<QCheckBox>(form1, "CheckBox1")->setChecked(true);
    if (t2)
        control<QCheckBox>(form1, "CheckBox2")->setChecked(true);
    if (t3)
        control<QCheckBox>(form1, "CheckBox3")->setChecked(true);
    if (!t1)
        control<QCheckBox>(form1, "CheckBox1")->setChecked(false);
    if (!t2)
        control<QCheckBox>(form1, "CheckBox2")->setChecked(false);
    if (!t3)
        control<QCheckBox>(form1, "CheckBox3")->setChecked(false);
}

// The far end of the line as the loop's tests play it, in-process: what the
// program sends is kept, and each read takes what the terminal has sent so far.
// A send purges what was not read yet, as on a real port.
struct Line
{
    QByteArray sent;
    QByteArray inbox;

    QByteArray wire() { return std::exchange(sent, {}); }
    void terminalSends(const QByteArray& bytes) { inbox += bytes; }
};

class LineDevice : public SerialDevice
{
public:
    explicit LineDevice(Line& line) : m_line(line) {}
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    void setTimeouts(const PortTimeouts&) override {}
    void purgeReceive() override { m_line.inbox.clear(); }
    qint64 write(const char* data, qint64 count) override
    {
        m_line.sent.append(data, count);
        return count;
    }
    qint64 read(char* data, qint64 maxCount) override
    {
        const qint64 n = std::min<qint64>(maxCount, m_line.inbox.size());
        std::copy_n(m_line.inbox.constData(), n, data);
        m_line.inbox.remove(0, n);
        return n;
    }

private:
    Line& m_line;
};

// The read loop on that line, with a clock the test moves.
struct LoopFixture
{
    LoopFixture() { port.ConnectPort(QStringLiteral("COM1")); }
    std::optional<ReadLoop::Card> poll() { return loop.poll(port, nowMs); }

    Line line;
    qint64 nowMs = 0;
    ComPort port{[this](const QString&) { return std::make_unique<LineDevice>(line); }, [this] { return nowMs; }};
    ReadLoop loop;
};

// The texts of a card as the edits would show them: absent tracks as null strings.
QStringList shownTexts(const ReadLoop::Card& card)
{
    const auto text = [](const std::optional<QString>& t) { return t ? *t : QString(); };
    return {text(card.track1), text(card.track2), text(card.track3)};
}

} // namespace

// The read loop against a terminal the test plays in-process, and the read tab
// against one across a pseudo-terminal.
class TestReading : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cardAfterCard_data();
    void cardAfterCard();
    void replySplitAcrossPollsIsShownOnceWhole();
    void longThreeTrackCardIsRead();
    void staleTailDoesNotCompleteAFragment();
    void notAReplyIsIgnored();
    void noiseBeforeTheReplyIsSkipped();
    void brokenReplyIsGivenUpAndTheTerminalReArmed();
    void readTabShowsCardsAndStops();
    void cancelStopsAndKeepsTexts();
    void boxChangeSendsStopAndPollGoesOn();
    void track2ReplyChangesOnlyItsEdit();
    void verifiesCardsSwipedBack();
    void readsFileThatCannotBeWrittenIsToldOnce();
    void assembler_data();
    void assembler();
};

void TestReading::cardAfterCard_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("rearm");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("texts"); // tracks 1, 2, 3; null where the reply leaves a track alone
    QTest::newRow("Track 1") << 0 << QByteArray("\x1B\x42\x4D") << QByteArray("\x1B\x42\x4D")
                             << QByteArray("%B4000^IVANOV?") << QStringList{QStringLiteral("B4000^IVANOV"), {}, {}};
    QTest::newRow("Track 2") << 1 << QByteArray("\x1B\x5D\x54") << QByteArray("\x1B\x5D\x4D")
                             << QByteArray("4000'2512?") << QStringList{{}, QStringLiteral("4000=2512"), {}};
    QTest::newRow("Track 3") << 2 << QByteArray("\x1B\x54\x5D") << QByteArray("\x1B\x54\x5D") << QByteArray("0123'45?")
                             << QStringList{{}, {}, QStringLiteral("0123=45")};
    QTest::newRow("Track 1 & 2") << 3 << QByteArray("\x1B\x42\x54") << QByteArray("\x1B\x42\x54")
                                 << QByteArray("4000'25BIVANOV?")
                                 << QStringList{QStringLiteral("IVANOV"), QStringLiteral("4000'25"), {}};
    QTest::newRow("Track 2 & 3") << 4 << QByteArray("\x1B\x42\x5D") << QByteArray("\x1B\x42\x5D")
                                 << QByteArray("4000A0123?")
                                 << QStringList{{}, QStringLiteral("4000"), QStringLiteral("0123")};
    QTest::newRow("Track 1 & 2 & 3") << 5 << QByteArray("\x1B\x42\x74") << QByteArray("\x1B\x42\x74")
                                     << QByteArray("4000A0123BSMITH?")
                                     << QStringList{QStringLiteral("SMITH"), QStringLiteral("4000"),
                                                    QStringLiteral("0123")};
}

void TestReading::cardAfterCard()
{
    QFETCH(int, choice);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, rearm);
    QFETCH(QByteArray, data);
    QFETCH(QStringList, texts);
    LoopFixture f;
    // "Track 2" sends whatever third byte the buffer holds: a stop before it leaves 54 there.
    f.port.sendStop();
    f.port.setReadCommand(3);
    f.line.wire();
    f.loop.start(f.port, choice);
    QCOMPARE(f.line.wire(), command);
    for (int card = 0; card < 2; ++card) {
        QVERIFY(!f.poll()); // no card swiped: nothing goes out
        QCOMPARE(f.line.wire(), QByteArray());
        f.line.terminalSends(reply(data));
        const auto read = f.poll();
        QVERIFY(read);
        QCOMPARE(shownTexts(*read), texts);
        QCOMPARE(read->clearAll, choice == 5);
        // Re-armed for the next card; "Track 2" with the 4D that the start left.
        QCOMPARE(f.line.wire(), rearm);
        QCOMPARE(int(f.port.sendBuffer()[0]), 0x1B);
        QCOMPARE(int(f.port.receiveBuffer()[0]), 0);
    }
    f.loop.stop(f.port);
    QCOMPARE(f.line.wire(), QByteArray("\x1B\x30"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(f.port.sendBuffer().data()), 3), QByteArray("\x1B\x42\x4D"));
}

void TestReading::replySplitAcrossPollsIsShownOnceWhole()
{
    LoopFixture f;
    f.loop.start(f.port, 3);
    f.line.wire();
    f.line.terminalSends(reply("1234567890"));
    QVERIFY(!f.poll());
    QCOMPARE(f.line.wire(), QByteArray()); // not re-armed on half a reply
    f.line.terminalSends("123BPETROV?");
    const auto read = f.poll();
    QVERIFY(read);
    QCOMPARE(shownTexts(*read), (QStringList{QStringLiteral("PETROV"), QStringLiteral("1234567890123"), {}}));
    QCOMPARE(f.line.wire(), QByteArray("\x1B\x42\x54"));
    QVERIFY(!f.poll());
    QCOMPARE(f.line.wire(), QByteArray());
}

void TestReading::longThreeTrackCardIsRead()
{
    LoopFixture f;
    f.loop.start(f.port, 5);
    const QByteArray t1(79, 'N'), t2(40, '7'), t3(60, '3');
    const QByteArray whole = reply(t2 + 'A' + t3 + 'B' + t1 + '?');
    QVERIFY(whole.size() > ReadLoop::PollBytes);
    f.line.terminalSends(whole);
    QVERIFY(!f.poll());         // 150 bytes
    const auto read = f.poll(); // the rest
    QVERIFY(read);
    QCOMPARE(shownTexts(*read),
             (QStringList{QString::fromLatin1(t1), QString::fromLatin1(t2), QString::fromLatin1(t3)}));
}

void TestReading::staleTailDoesNotCompleteAFragment()
{
    LoopFixture f;
    f.loop.start(f.port, 3);
    f.line.terminalSends(reply("11111111B2222222222?"));
    QVERIFY(f.poll());
    f.line.wire();
    f.line.terminalSends(reply("99"));
    QVERIFY(!f.poll());
    QCOMPARE(f.line.wire(), QByteArray());
}

void TestReading::notAReplyIsIgnored()
{
    LoopFixture f;
    f.loop.start(f.port, 0);
    f.line.wire();
    f.line.terminalSends("x?%ABC?");
    QVERIFY(!f.poll());
    QCOMPARE(f.line.wire(), QByteArray());
}

void TestReading::noiseBeforeTheReplyIsSkipped()
{
    LoopFixture f;
    f.loop.start(f.port, 0);
    f.line.wire();
    f.line.terminalSends(QByteArray("\x55\x00", 2) + reply("%CARD?"));
    const auto read = f.poll();
    QVERIFY(read);
    QCOMPARE(*read->track1, QStringLiteral("CARD"));
    QCOMPARE(f.line.wire(), QByteArray("\x1B\x42\x4D"));
}

void TestReading::brokenReplyIsGivenUpAndTheTerminalReArmed()
{
    LoopFixture f;
    f.loop.start(f.port, 5);
    f.line.wire();
    f.line.terminalSends(reply("1234A567")); // the rest never comes
    QVERIFY(!f.poll());
    f.nowMs += ReplyAssembler::QuietLimitMs - 1;
    QVERIFY(!f.poll());
    QCOMPARE(f.line.wire(), QByteArray()); // still waiting for the rest
    f.nowMs += 1;
    QVERIFY(!f.poll());
    QCOMPARE(f.line.wire(), QByteArray("\x1B\x42\x74"));
    f.line.terminalSends(reply("11A22B33?")); // the next card reads whole
    const auto read = f.poll();
    QVERIFY(read);
    QCOMPARE(shownTexts(*read), (QStringList{QStringLiteral("33"), QStringLiteral("11"), QStringLiteral("22")}));
}

void TestReading::readTabShowsCardsAndStops()
{
    // The window across a pseudo-terminal: the boxes choose the tracks, "Читать"
    // arms the terminal, each poll shows a card, "Отмена" stops.
    AppFixture f;
    f.linkPort(0);
    f.start();
    chooseTracks(f.form1, true, true, true);
    QCOMPARE(f.app->form2->trackChoice(), 5);
    f.wire();
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    QCOMPARE(f.wire(), QByteArray("\x1B\x42\x74"));
    QVERIFY(f.form1->Timer1.isActive());
    f.terminalSends(reply("4000A0123BSMITH?"));
    f.form1->Timer1Timer();
    QCOMPARE(control<QLineEdit>(f.form1, "Edit4")->text(), QStringLiteral("SMITH"));
    QCOMPARE(control<QLineEdit>(f.form1, "Edit5")->text(), QStringLiteral("4000"));
    QCOMPARE(control<QLineEdit>(f.form1, "Edit6")->text(), QStringLiteral("0123"));
    QCOMPARE(f.wire(), QByteArray("\x1B\x42\x74"));
    control<QPushButton>(f.form1, "SpeedButton4")->click();
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    QVERIFY(!f.form1->Timer1.isActive());
}

void TestReading::cancelStopsAndKeepsTexts()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    f.terminalSends(reply("%CARD?"));
    f.form1->Timer1Timer();
    f.wire();
    control<QPushButton>(f.form1, "SpeedButton4")->click();
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    QCOMPARE(control<QLineEdit>(f.form1, "Edit4")->text(), QStringLiteral("CARD"));
    // Starting again clears the edits.
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    QCOMPARE(control<QLineEdit>(f.form1, "Edit4")->text(), QString());
}

void TestReading::boxChangeSendsStopAndPollGoesOn()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    f.wire();
    control<QCheckBox>(f.form1, "CheckBox2")->setChecked(true);
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    QVERIFY(f.form1->Timer1.isActive());
    QCOMPARE(f.app->form2->trackChoice(), 3);
}

void TestReading::track2ReplyChangesOnlyItsEdit()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    chooseTracks(f.form1, false, true, false);
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    control<QLineEdit>(f.form1, "Edit4")->setText(QStringLiteral("keep 1"));
    control<QLineEdit>(f.form1, "Edit6")->setText(QStringLiteral("keep 3"));
    f.terminalSends(reply("555?"));
    f.form1->Timer1Timer();
    QCOMPARE(control<QLineEdit>(f.form1, "Edit5")->text(), QStringLiteral("555"));
    QCOMPARE(control<QLineEdit>(f.form1, "Edit4")->text(), QStringLiteral("keep 1"));
    QCOMPARE(control<QLineEdit>(f.form1, "Edit6")->text(), QStringLiteral("keep 3"));
}

// Swiping written cards back with verification on: the journal of the open job
// (with a damaged line), each outcome in words, the counts, the report and the
// reads file that keeps every card.
void TestReading::verifiesCardsSwipedBack()
{
    AppFixture f;
    {
        Journal journal(f.dir.filePath(QStringLiteral("journal.csv")));
        journal.setJob(QStringLiteral("job.swj"));
        const QDateTime at = QDateTime::fromString(QStringLiteral("2026-03-02T10:00:00+03:00"), Qt::ISODate);
        journal.append({at,
                        1,
                        1,
                        {QStringLiteral("SMITH"), QStringLiteral("4000"), QStringLiteral("0123")},
                        Journal::Outcome::Written,
                        {}});
        journal.append({at,
                        1,
                        2,
                        {QStringLiteral("JONES"), QStringLiteral("4001"), QStringLiteral("0124")},
                        Journal::Outcome::Written,
                        {}});
        journal.append({at,
                        1,
                        3,
                        {QStringLiteral("BROWN"), QStringLiteral("4002"), QStringLiteral("0125")},
                        Journal::Outcome::Written,
                        {}});
        journal.setJob(QStringLiteral("other.swj"));
        journal.append({at,
                        2,
                        1,
                        {QStringLiteral("GREEN"), QStringLiteral("4003"), QStringLiteral("0126")},
                        Journal::Outcome::Written,
                        {}});
    }
    QFile damaged(f.dir.filePath(QStringLiteral("journal.csv")));
    QVERIFY(damaged.open(QIODevice::Append));
    damaged.write("not a journal line\r\n");
    damaged.close();
    f.linkPort(0);
    f.start();
    chooseTracks(f.form1, true, true, true);
    const int height = f.form1->height();
    VerifyPanel* panel = f.form1->verifyPanel();
    QVERIFY(panel->isHidden());
    panel->switchBox()->setChecked(true);
    QVERIFY(!panel->isHidden());
    QCOMPARE(f.form1->height(), height + VerifyPanel::PanelHeight);
    QCOMPARE(panel->countsLabel()->text(),
             QStringLiteral("Верно: 0   Различаются: 0   Нет в журнале: 0   Не прочитаны: 3 "
                            "из 3   Повреждённых строк журнала: 1"));
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    const auto swipe = [&f, panel](const QByteArray& data) {
        f.terminalSends(reply(data));
        f.form1->Timer1Timer();
        return panel->outcomeLabel()->text();
    };
    QCOMPARE(swipe("4000A0123BSMITH?"), QStringLiteral("ВЕРНО"));
    QVERIFY(panel->detailLabel()->toolTip().startsWith(QStringLiteral("Верно: карточка 1, прогон 1")));
    QCOMPARE(control<QLineEdit>(f.form1, "Edit4")->text(),
             QStringLiteral("SMITH")); // the edits as without verification
    QCOMPARE(swipe("4000A0123BSMITH?"), QStringLiteral("ВЕРНО, ПОВТОРНО"));
    QCOMPARE(swipe("4001A9124BJONES?"), QStringLiteral("РАЗЛИЧАЕТСЯ: дорожка 3"));
    QVERIFY(panel->detailLabel()->toolTip().contains(QStringLiteral("дорожка 3 «9124» вместо «0124»")));
    QCOMPARE(swipe("4003A0126BGREEN?"), QStringLiteral("НЕТ В ЖУРНАЛЕ")); // another job's card
    QCOMPARE(panel->countsLabel()->text(),
             QStringLiteral("Верно: 1   Различаются: 1   Нет в журнале: 1   Не прочитаны: 1 "
                            "из 3   Повреждённых строк журнала: 1"));
    // All runs: the journal is read again, and the counts start over.
    panel->scopeBox()->setCurrentIndex(2);
    QVERIFY(panel->countsLabel()->text().contains(QStringLiteral("Не прочитаны: 4 из 4")));
    QCOMPARE(swipe("4003A0126BGREEN?"), QStringLiteral("ВЕРНО"));

    const QString reportPath = f.dir.filePath(QStringLiteral("report.csv"));
    Platform::setFileChooser([&reportPath](const Platform::FileRequest&) { return reportPath; });
    panel->reportButton()->click();
    Platform::setFileChooser({});
    QFile report(reportPath);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = report.readAll().split('\n');
    QVERIFY(rows.size() >= 4);
    QVERIFY(rows[1].startsWith("not swiped back,1,1,"));
    QVERIFY(rows[1].contains(",SMITH,4000,0123"));

    // Off: the panel goes, the window is as it was, reading and keeping cards go on.
    panel->switchBox()->setChecked(false);
    QVERIFY(panel->isHidden());
    QCOMPARE(f.form1->height(), height);
    swipe("1A2B=X,\"Y?");
    QVERIFY(f.boxes.empty());

    QFile reads(f.dir.filePath(QStringLiteral("reads.csv")));
    QVERIFY(reads.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = reads.readAll().split('\n');
    QCOMPARE(lines.size(), 8); // the header, six cards and the end of the last line
    QCOMPARE(lines[0], ReadsFile::header().toUtf8() + '\r');
    QVERIFY(lines[1].endsWith(",Track 1 & 2 & 3,SMITH,4000,0123,\"verified, run 1, card 1\"\r"));
    QVERIFY(lines[2].endsWith(",\"verified again, run 1, card 1\"\r"));
    QVERIFY(lines[3].endsWith(",JONES,4001,9124,\"differs on track 3, run 1, card 2\"\r"));
    QVERIFY(lines[4].endsWith(",GREEN,4003,0126,unknown\r"));
    // A formula, a comma and a quote read back as shown.
    QVERIFY2(lines[6].endsWith(",\"'=X,\"\"Y\",1,2,\r"), lines[6].constData());
}

void TestReading::readsFileThatCannotBeWrittenIsToldOnce()
{
    AppFixture f;
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("reads.csv"))); // a folder in the file's place
    f.linkPort(0);
    f.start();
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    auto* status = f.form1->findChild<QLabel*>(QStringLiteral("ReadsStatusLabel"));
    QVERIFY(status->isHidden());
    f.terminalSends(reply("%ONE?"));
    f.form1->Timer1Timer();
    QVERIFY(!status->isHidden());
    QVERIFY(status->toolTip().startsWith(QStringLiteral("Прочитанные карточки не сохраняются")));
    status->setToolTip({});
    f.terminalSends(reply("%TWO?"));
    f.form1->Timer1Timer();
    QCOMPARE(control<QLineEdit>(f.form1, "Edit4")->text(), QStringLiteral("TWO"));
    QCOMPARE(status->toolTip(), QString()); // told once, not per card
    QVERIFY(!status->isHidden());
    QVERIFY(f.boxes.empty());
    // Once the file can be written, the message goes.
    QVERIFY(QDir(f.dir.path()).rmdir(QStringLiteral("reads.csv")));
    f.terminalSends(reply("%THREE?"));
    f.form1->Timer1Timer();
    QVERIFY(status->isHidden());
}

void TestReading::assembler_data()
{
    // Pieces of one read each, a millisecond apart unless a row says otherwise: the
    // reply so far after the last one, and whether it is given up at `checkMs`.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("joined");
    QTest::addColumn<qint64>("checkMs");
    QTest::addColumn<bool>("stale");
    const QByteArray esc("\x1B");
    const QByteArray longest =
        esc + 'B' + QByteArray(40, '1') + 'A' + QByteArray(107, '2') + 'B' + QByteArray(79, 'N') + '?';
    QTest::newRow("two pieces") << QList<QByteArray>{esc + "B12", "3B4"} << esc + "B123B4" << qint64(2) << false;
    QTest::newRow("noise before ESC") << QList<QByteArray>{"\x55\xFF" + esc + "B1"} << esc + "B1" << qint64(1) << false;
    QTest::newRow("noise alone") << QList<QByteArray>{"\x55"} << QByteArray() << qint64(5000) << false;
    QTest::newRow("ESC starts afresh") << QList<QByteArray>{esc + "B12", "3" + esc + "B9"} << esc + "B9" << qint64(2)
                                       << false;
    QTest::newRow("longest reply, in three reads")
        << QList<QByteArray>{longest.left(96), longest.mid(96, 96), longest.mid(192)} << longest << qint64(3) << false;
    QTest::newRow("quiet just under a second")
        << QList<QByteArray>{esc + "B12"} << esc + "B12" << qint64(ReplyAssembler::QuietLimitMs - 1) << false;
    QTest::newRow("quiet a second") << QList<QByteArray>{esc + "B12"} << esc + "B12"
                                    << qint64(ReplyAssembler::QuietLimitMs) << true;
    QTest::newRow("past the limit: given up once quiet")
        << QList<QByteArray>{esc + QByteArray(300, '1'), QByteArray(300, '2'), QByteArray(10, '3')} << QByteArray()
        << qint64(3 + ReplyAssembler::QuietLimitMs) << true;
}

void TestReading::assembler()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, joined);
    QFETCH(qint64, checkMs);
    QFETCH(bool, stale);
    ReplyAssembler assembler;
    QByteArray last;
    for (qsizetype i = 0; i < pieces.size(); ++i)
        last = assembler.feed(pieces[i], i);
    QCOMPARE(last, joined);
    QCOMPARE(assembler.stale(checkMs), stale);
    assembler.reset();
    QVERIFY(!assembler.stale(checkMs + ReplyAssembler::QuietLimitMs));
}

int runReadingTests(int argc, char** argv)
{
    TestReading t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_reading.moc"
