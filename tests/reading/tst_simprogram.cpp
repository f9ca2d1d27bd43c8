#include "appfixture.h"
#include "simprogram.h"

#include "app/verifypanel.h"
#include "excel/cellsource.h"
#include "tools/simcard.h"
#include "tools/terminalsimulator.h"
#include "writing/job.h"

#include <QCheckBox>
#include <QLabel>

namespace {

// Three cards with every track full; track 1 holds the letters that mark the
// other tracks in a reply, as names do (IVANOV, BORISOV).
QList<SimCard> fullCards()
{
    QList<SimCard> cards;
    for (int n = 1; n <= 3; ++n) {
        const QByteArray number = QByteArray::number(n).rightJustified(6, '0');
        cards.append({(number + " IVANOV/BORIS A B").leftJustified(79, 'Z'), (number + '=').leftJustified(40, '7'),
                      (number + "=>").leftJustified(107, '3')});
    }
    return cards;
}

// What the read tab shows of a track: the single-track reads of tracks 2 and 3
// map the numeric-track bytes back, the joined reads show them as they arrive.
QString shown(const QByteArray& text, bool mappedBack)
{
    return QString::fromLatin1(mappedBack ? text : TerminalSimulator::toNumericWire(text));
}

} // namespace

// Reading cards from the simulator program across a pseudo-terminal, on its
// real-paced line, through a USB adapter's bursts and through a plain UART.
class TestSimulatorProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsEachChoice_data();
    void readsEachChoice();
    void encodedCardsSwipedBackAreVerified();
};

void TestSimulatorProgram::readsEachChoice_data()
{
    QTest::addColumn<QList<bool>>("boxes");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("delivery");
    const struct
    {
        const char* name;
        QList<bool> boxes;
        QByteArray command;
    } choices[] = {
        {"Track 1", {true, false, false}, "\x1B\x42\x4D"},    {"Track 2", {false, true, false}, "\x1B\x5D\x54"},
        {"Track 3", {false, false, true}, "\x1B\x54\x5D"},    {"Track 1 & 2", {true, true, false}, "\x1B\x42\x54"},
        {"Track 2 & 3", {false, true, true}, "\x1B\x42\x5D"}, {"Track 1 & 2 & 3", {true, true, true}, "\x1B\x42\x74"},
    };
    for (const QString delivery : {QStringLiteral("usb"), QStringLiteral("uart")}) {
        for (const auto& c : choices)
            QTest::addRow("%s, %s", c.name, qPrintable(delivery)) << c.boxes << c.command << delivery;
    }
}

void TestSimulatorProgram::readsEachChoice()
{
    QFETCH(QList<bool>, boxes);
    QFETCH(QByteArray, command);
    QFETCH(QString, delivery);
    AppFixture f;
    QByteArray deck;
    for (const SimCard& card : fullCards())
        deck += card.toLine() + '\n';
    // Each card is swiped 50 ms after the terminal is armed for it.
    SimulatorProgram sim(
        f.dir.path(), {QStringLiteral("--present-after"), QStringLiteral("50"), QStringLiteral("--delivery"), delivery},
        deck);
    QFile config(f.dir.filePath(QStringLiteral("config.rwc")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("0\r\n");
    config.close();
    f.start();
    QVERIFY(f.boxes.empty());
    QCheckBox* checks[] = {control<QCheckBox>(f.form1, "CheckBox1"), control<QCheckBox>(f.form1, "CheckBox2"),
                           control<QCheckBox>(f.form1, "CheckBox3")};
    for (int i = 0; i < 3; ++i)
        if (boxes[i])
            checks[i]->setChecked(true);
    for (int i = 0; i < 3; ++i)
        if (!boxes[i])
            checks[i]->setChecked(false);
    const bool single = boxes.count(true) == 1;
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    QLineEdit* edits[] = {control<QLineEdit>(f.form1, "Edit4"), control<QLineEdit>(f.form1, "Edit5"),
                          control<QLineEdit>(f.form1, "Edit6")};
    for (const SimCard& card : fullCards()) {
        const QString expected[] = {boxes[0] ? QString::fromLatin1(card.track1) : QString(),
                                    boxes[1] ? shown(card.track2, single) : QString(),
                                    boxes[2] ? shown(card.track3, single) : QString()};
        // A poll reads what 100 ms bring; the longest reply is on the line for 240 ms.
        for (int poll = 0; poll < 30 && edits[boxes[0] ? 0 : boxes[1] ? 1 : 2]->text().isEmpty(); ++poll)
            f.form1->Timer1Timer();
        for (int t = 0; t < 3; ++t)
            QCOMPARE(edits[t]->text(), expected[t]);
        for (QLineEdit* e : edits)
            e->clear();
    }
    control<QPushButton>(f.form1, "SpeedButton4")->click();
    QByteArray wire;
    for (int wait = 0; wait < 50 && !wire.endsWith("\x1B\x30"); ++wait, QTest::qWait(100))
        wire = sim.wire();
    QVERIFY(wire.startsWith(command) || wire.contains(command));
    // Armed at "Читать", re-armed after each card (track 2's third byte is whatever the buffer holds), then stopped.
    QCOMPARE(wire.count(command.left(2)), 4);
    QVERIFY(wire.endsWith("\x1B\x30"));
}

namespace {

struct NoCells : CellSource
{
    QString ReadCellText(int, int) override { return {}; }
};

// "CARD001", "CARD002", … on track 1 and "4000=10", "4001=15", … on track 2.
Job countingJob()
{
    NoCells cells;
    Job job;
    job.trackChoice = 3; // "Track 1 & 2"
    AddRequest text{0, QStringLiteral("CARD")};
    AddRequest number{1};
    number.counterStart = 1;
    number.counterStep = 1;
    number.digitCount = 3;
    job.templates.add(1, 0, text, false, cells);
    job.templates.add(1, 1, number, false, cells);
    number.counterStart = 4000;
    number.digitCount = 4;
    job.templates.add(2, 0, number, false, cells);
    job.templates.add(2, 1, AddRequest{0, QStringLiteral("=")}, false, cells);
    number.counterStart = 10;
    number.counterStep = 5;
    number.digitCount = 2;
    job.templates.add(2, 2, number, false, cells);
    return job;
}

} // namespace

// A run of cards written to the simulator program from the write tab, then the
// cards it encoded swiped back on the read tab, on the real-paced line, against
// the journal of the open job.
void TestSimulatorProgram::encodedCardsSwipedBackAreVerified()
{
    AppFixture f;
    JobFile::write(f.dir.filePath(QStringLiteral("job.swj")), countingJob());
    QFile config(f.dir.filePath(QStringLiteral("config.rwc")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("0\r\n");
    config.close();
    const QString encodedPath = f.dir.filePath(QStringLiteral("encoded.txt"));
    QByteArray encoded;
    {
        SimulatorProgram writer(
            f.dir.path(), {QStringLiteral("--encoded"), encodedPath, QStringLiteral("--swipe"), QStringLiteral("0")});
        f.start();
        QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));
        control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
        QCOMPARE(control<QLabel>(f.form1, "Label2")->text(), QStringLiteral("Запись: Track 1 & 2"));
        control<QPushButton>(f.form1, "SpeedButton5")->click();
        for (int tick = 0;
             tick < 20 && control<QLabel>(f.form1, "Label3")->text() != QStringLiteral("Записано карточек: 3"); ++tick)
            Platform::guarded(f.form1, [&f] { f.form1->Timer2Timer(); });
        control<QPushButton>(f.form1, "SpeedButton9")->click();
        QVERIFY(writer.waitForLine("stopped"));
        QFile file(encodedPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        encoded = file.readAll();
    }
    QCOMPARE(encoded, QByteArray("CARD001|4000=10|\nCARD002|4001=15|\nCARD003|4002=20|\n"));

    // The encoded cards, then one that was never written, from a reader on COM2.
    SimulatorProgram reader(f.dir.path(), {QStringLiteral("--present-after"), QStringLiteral("50")},
                            encoded + "STRANGER|5555|\n", QStringLiteral("COM2"));
    f.app->form4->selectPortPosition(1);
    f.app->form4->Button1Click();
    control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(0);
    VerifyPanel* panel = f.form1->verifyPanel();
    panel->switchBox()->setChecked(true);
    QVERIFY(panel->countsLabel()->text().contains(QStringLiteral("Не прочитаны: 3 из 3")));
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    QStringList outcomes;
    for (int card = 0; card < 4; ++card) {
        for (int poll = 0; poll < 30 && control<QLineEdit>(f.form1, "Edit4")->text().isEmpty(); ++poll)
            f.form1->Timer1Timer();
        outcomes.append(control<QLineEdit>(f.form1, "Edit4")->text() + QLatin1Char(' ') +
                        panel->outcomeLabel()->text());
        control<QLineEdit>(f.form1, "Edit4")->clear();
    }
    control<QPushButton>(f.form1, "SpeedButton4")->click();
    QCOMPARE(outcomes, (QStringList{QStringLiteral("CARD001 ВЕРНО"), QStringLiteral("CARD002 ВЕРНО"),
                                    QStringLiteral("CARD003 ВЕРНО"), QStringLiteral("STRANGER НЕТ В ЖУРНАЛЕ")}));
    QCOMPARE(panel->countsLabel()->text(),
             QStringLiteral("Верно: 3   Различаются: 0   Нет в журнале: 1   Не прочитаны: 0 из 3"));
}

int runSimulatorProgramTests(int argc, char** argv)
{
    TestSimulatorProgram t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_simprogram.moc"
