#include "appfixture.h"

#include "link/comport.h"
#include "reading/replyassembler.h"

namespace {

QByteArray reply(const QByteArray& data)
{
    return QByteArray("\x1B\x00", 2) + data;
}

void chooseTracks(Ui::TForm1* ui, bool t1, bool t2, bool t3)
{
    // Tick first, then untick, so that the boxes never pass through "none".
    if (t1) ui->CheckBox1->setChecked(true);
    if (t2) ui->CheckBox2->setChecked(true);
    if (t3) ui->CheckBox3->setChecked(true);
    if (!t1) ui->CheckBox1->setChecked(false);
    if (!t2) ui->CheckBox2->setChecked(false);
    if (!t3) ui->CheckBox3->setChecked(false);
}

} // namespace

// The read tab against a terminal played by the test across a pseudo-terminal.
class TestReading : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cardAfterCard_data();
    void cardAfterCard();
    void replySplitAcrossPollsIsShownOnceWhole();
    void longThreeTrackCardIsRead();
    void staleTailDoesNotCompleteAFragment();
    void cancelStopsAndKeepsTexts();
    void boxChangeSendsStopAndPollGoesOn();
    void track2ReplyChangesOnlyItsEdit();
    void notAReplyIsIgnored();
    void noiseBeforeTheReplyIsSkipped();
    void brokenReplyIsGivenUpAndTheTerminalReArmed();
    void assembler_data();
    void assembler();
};

void TestReading::cardAfterCard_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("rearm");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("texts"); // Edit4, Edit5, Edit6
    QTest::newRow("Track 1") << 0 << QByteArray("\x1B\x42\x4D") << QByteArray("\x1B\x42\x4D") << QByteArray("%B4000^IVANOV?")
                             << QStringList{QStringLiteral("B4000^IVANOV"), {}, {}};
    QTest::newRow("Track 2") << 1 << QByteArray("\x1B\x5D\x54") << QByteArray("\x1B\x5D\x4D") << QByteArray("4000'2512?")
                             << QStringList{{}, QStringLiteral("4000=2512"), {}};
    QTest::newRow("Track 3") << 2 << QByteArray("\x1B\x54\x5D") << QByteArray("\x1B\x54\x5D") << QByteArray("0123'45?")
                             << QStringList{{}, {}, QStringLiteral("0123=45")};
    QTest::newRow("Track 1 & 2") << 3 << QByteArray("\x1B\x42\x54") << QByteArray("\x1B\x42\x54") << QByteArray("4000'25BIVANOV?")
                                 << QStringList{QStringLiteral("IVANOV"), QStringLiteral("4000'25"), {}};
    QTest::newRow("Track 2 & 3") << 4 << QByteArray("\x1B\x42\x5D") << QByteArray("\x1B\x42\x5D") << QByteArray("4000A0123?")
                                 << QStringList{{}, QStringLiteral("4000"), QStringLiteral("0123")};
    QTest::newRow("Track 1 & 2 & 3") << 5 << QByteArray("\x1B\x42\x74") << QByteArray("\x1B\x42\x74") << QByteArray("4000A0123BSMITH?")
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
    AppFixture f;
    f.linkPort(0);
    f.start();
    chooseTracks(f.ui, choice == 0 || choice == 3 || choice == 5, choice == 1 || choice >= 3,
                 choice == 2 || choice >= 4);
    QCOMPARE(f.app->form2->trackChoice(), choice);
    f.wire();
    f.ui->SpeedButton3->click();
    QCOMPARE(f.wire(), command);
    QVERIFY(f.form1->Timer1.isActive());
    for (int card = 0; card < 2; ++card) {
        f.form1->Timer1Timer(); // no card swiped: nothing changes
        QCOMPARE(f.wire(), QByteArray());
        f.terminalSends(reply(data));
        f.form1->Timer1Timer();
        QCOMPARE(f.ui->Edit4->text(), texts[0]);
        QCOMPARE(f.ui->Edit5->text(), texts[1]);
        QCOMPARE(f.ui->Edit6->text(), texts[2]);
        // Re-armed for the next card. "Track 2" sends whatever third byte the buffer
        // holds: the reset after "Читать" left 4D there.
        QCOMPARE(f.wire(), rearm);
        QCOMPARE(int(f.app->port.ReceiveBuffer[0]), 0);
    }
    f.ui->SpeedButton4->click();
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    QVERIFY(!f.form1->Timer1.isActive());
}

void TestReading::replySplitAcrossPollsIsShownOnceWhole()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    chooseTracks(f.ui, true, true, false);
    f.ui->SpeedButton3->click();
    f.wire();
    f.terminalSends(reply("1234567890"));
    f.form1->Timer1Timer();
    QCOMPARE(f.ui->Edit5->text(), QString());
    QCOMPARE(f.wire(), QByteArray()); // not re-armed on half a reply
    f.terminalSends("123BPETROV?");
    f.form1->Timer1Timer();
    QCOMPARE(f.ui->Edit5->text(), QStringLiteral("1234567890123"));
    QCOMPARE(f.ui->Edit4->text(), QStringLiteral("PETROV"));
    QCOMPARE(f.wire(), QByteArray("\x1B\x42\x54"));
    f.form1->Timer1Timer();
    QCOMPARE(f.wire(), QByteArray());
}

void TestReading::longThreeTrackCardIsRead()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    chooseTracks(f.ui, true, true, true);
    f.ui->SpeedButton3->click();
    f.wire();
    const QByteArray t1(79, 'N'), t2(40, '7'), t3(60, '3');
    const QByteArray whole = reply(t2 + 'A' + t3 + 'B' + t1 + '?');
    QVERIFY(whole.size() > 150);
    f.terminalSends(whole);
    f.form1->Timer1Timer(); // 150 bytes
    f.form1->Timer1Timer(); // the rest
    QCOMPARE(f.ui->Edit4->text(), QString::fromLatin1(t1));
    QCOMPARE(f.ui->Edit5->text(), QString::fromLatin1(t2));
    QCOMPARE(f.ui->Edit6->text(), QString::fromLatin1(t3));
}

void TestReading::staleTailDoesNotCompleteAFragment()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    chooseTracks(f.ui, true, true, false);
    f.ui->SpeedButton3->click();
    f.terminalSends(reply("11111111B2222222222?"));
    f.form1->Timer1Timer();
    QCOMPARE(f.ui->Edit4->text(), QStringLiteral("2222222222"));
    f.wire();
    f.terminalSends(reply("99"));
    f.form1->Timer1Timer();
    QCOMPARE(f.ui->Edit4->text(), QStringLiteral("2222222222"));
    QCOMPARE(f.ui->Edit5->text(), QStringLiteral("11111111"));
    QCOMPARE(f.wire(), QByteArray());
}

void TestReading::cancelStopsAndKeepsTexts()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    f.ui->SpeedButton3->click();
    f.terminalSends(reply("%CARD?"));
    f.form1->Timer1Timer();
    f.wire();
    f.ui->SpeedButton4->click();
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    QCOMPARE(f.ui->Edit4->text(), QStringLiteral("CARD"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(f.app->port.SendBuffer.data()), 3), QByteArray("\x1B\x42\x4D"));
    // Starting again clears the edits.
    f.ui->SpeedButton3->click();
    QCOMPARE(f.ui->Edit4->text(), QString());
}

void TestReading::boxChangeSendsStopAndPollGoesOn()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    f.ui->SpeedButton3->click();
    f.wire();
    f.ui->CheckBox2->setChecked(true);
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    QVERIFY(f.form1->Timer1.isActive());
    QCOMPARE(f.app->form2->trackChoice(), 3);
}

void TestReading::track2ReplyChangesOnlyItsEdit()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    chooseTracks(f.ui, false, true, false);
    f.ui->SpeedButton3->click();
    f.ui->Edit4->setText(QStringLiteral("keep 1"));
    f.ui->Edit6->setText(QStringLiteral("keep 3"));
    f.terminalSends(reply("555?"));
    f.form1->Timer1Timer();
    QCOMPARE(f.ui->Edit5->text(), QStringLiteral("555"));
    QCOMPARE(f.ui->Edit4->text(), QStringLiteral("keep 1"));
    QCOMPARE(f.ui->Edit6->text(), QStringLiteral("keep 3"));
}

void TestReading::notAReplyIsIgnored()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    f.ui->SpeedButton3->click();
    f.wire();
    f.terminalSends("x?%ABC?");
    f.form1->Timer1Timer();
    QCOMPARE(f.ui->Edit4->text(), QString());
    QCOMPARE(f.wire(), QByteArray());
}

void TestReading::noiseBeforeTheReplyIsSkipped()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    f.ui->SpeedButton3->click();
    f.wire();
    f.terminalSends(QByteArray("\x55\x00") + reply("%CARD?"));
    f.form1->Timer1Timer();
    QCOMPARE(f.ui->Edit4->text(), QStringLiteral("CARD"));
    QCOMPARE(f.wire(), QByteArray("\x1B\x42\x4D"));
}

void TestReading::brokenReplyIsGivenUpAndTheTerminalReArmed()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    chooseTracks(f.ui, true, true, true);
    f.ui->SpeedButton3->click();
    f.wire();
    f.terminalSends(reply("1234A567")); // the rest never comes
    f.form1->Timer1Timer();
    f.skippedMs += ReplyAssembler::QuietLimitMs - 300; // a read that gets nothing takes 100 ms of it
    f.form1->Timer1Timer();
    QCOMPARE(f.wire(), QByteArray()); // still waiting for the rest
    f.skippedMs += 300;
    f.form1->Timer1Timer();
    QCOMPARE(f.wire(), QByteArray("\x1B\x42\x74"));
    f.terminalSends(reply("11A22B33?")); // the next card reads whole
    f.form1->Timer1Timer();
    QCOMPARE(f.ui->Edit4->text(), QStringLiteral("33"));
    QCOMPARE(f.ui->Edit6->text(), QStringLiteral("22"));
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
    const QByteArray longest = esc + 'B' + QByteArray(40, '1') + 'A' + QByteArray(107, '2') + 'B' +
                               QByteArray(79, 'N') + '?';
    QTest::newRow("two pieces") << QList<QByteArray>{esc + "B12", "3B4"} << esc + "B123B4" << qint64(2) << false;
    QTest::newRow("noise before ESC") << QList<QByteArray>{"\x55\xFF" + esc + "B1"} << esc + "B1" << qint64(1)
                                      << false;
    QTest::newRow("noise alone") << QList<QByteArray>{"\x55"} << QByteArray() << qint64(5000) << false;
    QTest::newRow("ESC starts afresh") << QList<QByteArray>{esc + "B12", "3" + esc + "B9"} << esc + "B9"
                                       << qint64(2) << false;
    QTest::newRow("longest reply, in three reads")
        << QList<QByteArray>{longest.left(96), longest.mid(96, 96), longest.mid(192)} << longest << qint64(3) << false;
    QTest::newRow("quiet just under a second") << QList<QByteArray>{esc + "B12"} << esc + "B12"
                                               << qint64(ReplyAssembler::QuietLimitMs - 1) << false;
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
