#include "appfixture.h"

#include <QFile>
#include <QProcess>

namespace {

// The simulator program on its own pseudo-terminal, linked as COM1 in the program's directory.
struct SimulatorProgram
{
    explicit SimulatorProgram(const QString& dir)
    {
        record = dir + QStringLiteral("/wire.log");
        QFile deck(dir + QStringLiteral("/deck.txt"));
        if (deck.open(QIODevice::WriteOnly))
            deck.write("SMITH/J|4000123=2512|0123=45\n");
        deck.close();
        process.start(QStringLiteral(STRIPEWELL_SIM_PATH),
                      {QStringLiteral("--link"), dir + QStringLiteral("/COM1"), QStringLiteral("--present-after"),
                       QStringLiteral("0"), QStringLiteral("--deck"), deck.fileName(), QStringLiteral("--record"),
                       record});
        waitForLine("link");
    }
    ~SimulatorProgram()
    {
        process.write("quit\n");
        if (!process.waitForFinished(2000))
            process.kill();
    }
    bool waitForLine(const char* start)
    {
        for (int i = 0; i < 50; ++i) {
            while (process.canReadLine()) {
                if (process.readLine().startsWith(start))
                    return true;
            }
            process.waitForReadyRead(100);
        }
        return false;
    }
    QByteArray wire() const
    {
        QFile file(record);
        QByteArray hex;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n'))
            {
                const qsizetype space = line.indexOf(' ');
                if (space > 0)
                    hex += line.mid(space + 1).replace(' ', "");
            }
        }
        return QByteArray::fromHex(hex);
    }

    QProcess process;
    QString record;
};

} // namespace

// Reading cards from the simulator program across a pseudo-terminal.
class TestSimulatorProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsEachChoice_data();
    void readsEachChoice();
};

void TestSimulatorProgram::readsEachChoice_data()
{
    QTest::addColumn<QList<bool>>("boxes");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("Track 1") << QList<bool>{true, false, false} << QByteArray("\x1B\x42\x4D")
                             << QStringList{QStringLiteral("SMITH/J"), {}, {}};
    QTest::newRow("Track 2") << QList<bool>{false, true, false} << QByteArray("\x1B\x5D\x54")
                             << QStringList{{}, QStringLiteral("4000123=2512"), {}};
    QTest::newRow("Track 3") << QList<bool>{false, false, true} << QByteArray("\x1B\x54\x5D")
                             << QStringList{{}, {}, QStringLiteral("0123=45")};
    QTest::newRow("Track 1 & 2") << QList<bool>{true, true, false} << QByteArray("\x1B\x42\x54")
                                 << QStringList{QStringLiteral("SMITH/J"), QStringLiteral("4000123'2512"), {}};
    QTest::newRow("Track 2 & 3") << QList<bool>{false, true, true} << QByteArray("\x1B\x42\x5D")
                                 << QStringList{{}, QStringLiteral("4000123'2512"), QStringLiteral("0123'45")};
    QTest::newRow("Track 1 & 2 & 3") << QList<bool>{true, true, true} << QByteArray("\x1B\x42\x74")
                                     << QStringList{QStringLiteral("SMITH/J"), QStringLiteral("4000123'2512"),
                                                    QStringLiteral("0123'45")};
}

void TestSimulatorProgram::readsEachChoice()
{
    QFETCH(QList<bool>, boxes);
    QFETCH(QByteArray, command);
    QFETCH(QStringList, texts);
    AppFixture f;
    SimulatorProgram sim(f.dir.path());
    QFile config(f.dir.filePath(QStringLiteral("config.rwc")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("0\r\n");
    config.close();
    f.start();
    QVERIFY(f.boxes.empty());
    QCheckBox* checks[] = {f.ui->CheckBox1, f.ui->CheckBox2, f.ui->CheckBox3};
    for (int i = 0; i < 3; ++i)
        if (boxes[i]) checks[i]->setChecked(true);
    for (int i = 0; i < 3; ++i)
        if (!boxes[i]) checks[i]->setChecked(false);
    f.ui->SpeedButton3->click();
    QVERIFY(sim.waitForLine("armed"));
    for (int card = 0; card < 2; ++card) {
        sim.process.write("present\n");
        QVERIFY(sim.waitForLine("presented"));
        QLineEdit* edits[] = {f.ui->Edit4, f.ui->Edit5, f.ui->Edit6};
        for (int poll = 0; poll < 20 && edits[boxes[0] ? 0 : boxes[1] ? 1 : 2]->text().isEmpty(); ++poll)
            f.form1->Timer1Timer();
        QCOMPARE(f.ui->Edit4->text(), texts[0]);
        QCOMPARE(f.ui->Edit5->text(), texts[1]);
        QCOMPARE(f.ui->Edit6->text(), texts[2]);
        QVERIFY(sim.waitForLine("armed")); // the program re-armed the terminal
        if (card == 0)
            for (QLineEdit* e : edits) e->clear();
    }
    f.ui->SpeedButton4->click();
    QVERIFY(sim.waitForLine("stopped"));
    const QByteArray wire = sim.wire();
    QVERIFY2(wire.startsWith(QByteArray(command)) || wire.contains(command), wire.toHex(' ').constData());
    QVERIFY(wire.endsWith("\x1B\x30"));
}

int runSimulatorProgramTests(int argc, char** argv)
{
    TestSimulatorProgram t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_simprogram.moc"
