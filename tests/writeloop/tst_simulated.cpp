#include "simharness.h"

#include "link/commandset.h"

#include <QTest>

// The loop against the terminal simulator's scripted answers, on its own clock.
class TestSimulated : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void outcomes_data();
    void outcomes();
    void refusedCardsKeepTheirNumber();
};

void TestSimulated::outcomes_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("encoded");

    const QString one = QStringLiteral("1");
    const QString two = QStringLiteral("2");
    // Each pattern ends in X (no answer), so the run settles on a card and listens.
    QTest::newRow("written") << "WX" << QStringList{writtenLine(1)} << QStringList{one, two} << QStringList{one};
    QTest::newRow("not written") << "NX" << QStringList{refusedLine(1)} << QStringList{one, one} << QStringList{};
    QTest::newRow("written in pieces") << "PX" << QStringList{writtenLine(1)} << QStringList{one, two}
                                       << QStringList{one};
    QTest::newRow("refused in pieces") << "QX" << QStringList{refusedLine(1)} << QStringList{one, one} << QStringList{};
    QTest::newRow("written late") << "DX" << QStringList{writtenLine(1)} << QStringList{one, two} << QStringList{one};
    QTest::newRow("junk, then written") << "JX" << QStringList{writtenLine(1)} << QStringList{one, two}
                                        << QStringList{one};
    QTest::newRow("lone ESC is not a card written") << "E" << QStringList{} << QStringList{one} << QStringList{};
    QTest::newRow("no verdict: same card again")
        << "VX" << QStringList{one + WriteLoop::noVerdictLine()} << QStringList{one, one} << QStringList{};
    QTest::newRow("no answer") << "X" << QStringList{} << QStringList{one} << QStringList{};
}

void TestSimulated::outcomes()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, log);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, encoded);
    SimulatedRun run(pattern);
    CounterComposer counter;
    run.tab.start(*run.session);
    for (int i = 0; i < 10; ++i)
        run.step(CommandSet::Track1, counter.composer());
    QCOMPARE(run.tab.log, log);
    QCOMPARE(run.sentTrack1(), sent);
    QCOMPARE(run.encodedTrack1(), encoded);
    QCOMPARE(run.loop().cardsWritten(), int(encoded.size()));
}

void TestSimulated::refusedCardsKeepTheirNumber()
{
    SimulatedRun run(QStringLiteral("WWNQWX"));
    CounterComposer counter;
    run.tab.start(*run.session);
    for (int i = 0; i < 12; ++i)
        run.step(CommandSet::Track123, counter.composer());
    QCOMPARE(run.tab.log,
             (QStringList{writtenLine(1), writtenLine(2), refusedLine(3), refusedLine(3), writtenLine(3)}));
    QCOMPARE(run.tab.label, QStringLiteral("Записано карточек: 3"));
    QCOMPARE(run.encodedTrack1(), (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    QCOMPARE(run.engine.encodedCards().last().track3, QByteArray("3"));
    QCOMPARE(counter.next, 5);
}

int runSimulatedTests(int argc, char** argv)
{
    TestSimulated t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_simulated.moc"
