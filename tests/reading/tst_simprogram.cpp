#include "appfixture.h"
#include "simprogram.h"

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
    SimulatorProgram sim(f.dir.path(), {QStringLiteral("--present-after"), QStringLiteral("0")});
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
