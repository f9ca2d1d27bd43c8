#include "simharness.h"

#include "templatecards.h"

#include "link/commandset.h"

#include <QTest>

#include <functional>

namespace {

constexpr int Cards = 1000;
// Steps without a send or a log line after which the operator gives up on an
// answer, presses "Отмена" and then "Записать" again.
constexpr int PatienceSteps = 6;

QList<QByteArray> lines(const QList<SimCard>& cards)
{
    QList<QByteArray> out;
    for (const SimCard& c : cards)
        out.append(c.toLine());
    return out;
}

// The card the n-th composition gives, as a function of n.
using CardOfNumber = std::function<SimCard(int n)>;

// Runs cards through the simulator's random answers until `Cards` are written;
// afterwards the encoded cards, the log and the count are held against the
// counter sequence that the answers imply.
void soak(quint32 seed, int choice, const WriteLoop::Composer& compose, const CardOfNumber& cardOf)
{
    SimulatedRun run(QStringLiteral("random:%1").arg(seed));
    QList<SimCard> logged; // the card in hand at each "written" line, across runs
    int idle = 0;
    int runs = 1;
    run.tab->SpeedButton5Click();
    for (int step = 0; logged.size() < Cards && step < 40 * Cards; ++step) {
        const qsizetype framesBefore = run.engine.frames().size();
        const int writtenBefore = run.loop->cardsWritten();
        const WriteLoop::Tick t = run.step(choice, compose);
        QCOMPARE(t.stop, WriteLoop::Tick::Stop::None);
        for (const QString& line : t.logLines) {
            if (line == writtenLine(writtenBefore + 1)) {
                const Tracks_Write::CardTexts& e = run.tab->edits;
                logged.append({CommandSet::textToWire(e.track1), CommandSet::textToWire(e.track2),
                               CommandSet::textToWire(e.track3)});
            } else if (line != QString::number(writtenBefore + 1) + WriteLoop::noVerdictLine()) {
                QCOMPARE(line, refusedLine(writtenBefore + 1));
            }
        }
        QCOMPARE(run.tab->label, run.loop->cardsWritten() == 0 ? WriteLoop::countLabelAtStart()
                                                               : WriteLoop::countLabel(run.loop->cardsWritten()));
        idle = run.engine.frames().size() == framesBefore && t.logLines.isEmpty() ? idle + 1 : 0;
        if (idle == PatienceSteps) {
            run.loop->stop();
            run.tab->SpeedButton5Click();
            ++runs;
            idle = 0;
        }
    }
    QCOMPARE(logged.size(), Cards);
    QVERIFY(runs > 1);
    QCOMPARE(lines(run.engine.encodedCards()), lines(logged));

    // The exact sequence on the wire: a card goes out again, in this run or the
    // next, until it is answered "written"; only then comes the next card. So
    // the encoded cards are cards 1, 2, 3, ... with none skipped or doubled.
    const QList<TerminalSimulator::Frame>& frames = run.engine.frames();
    const QList<WriteOutcome>& answers = run.engine.answers();
    QCOMPARE(answers.size(), frames.size());
    QList<SimCard> expectedEncoded;
    int n = 1;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        QVERIFY2(frames[i].ok(), qPrintable(frames[i].problem));
        QCOMPARE(frames[i].card.toLine(), cardOf(n).toLine());
        if (answers[i].encodes())
            expectedEncoded.append(frames[i].card);
        if (answers[i].answer == WriteOutcome::Answer::Written)
            ++n;
    }
    QCOMPARE(lines(run.engine.encodedCards()), lines(expectedEncoded));
    for (qsizetype i = 0; i < expectedEncoded.size(); ++i)
        QCOMPARE(expectedEncoded[i].toLine(), cardOf(int(i) + 1).toLine());
}

SimCard counterCard(int choice, int n)
{
    const QByteArray v = QByteArray::number(n);
    return {CommandSet::choiceCarries(choice, 1) ? v : QByteArray(),
            CommandSet::choiceCarries(choice, 2) ? v : QByteArray(),
            CommandSet::choiceCarries(choice, 3) ? v : QByteArray()};
}

} // namespace

// Long runs of cards through every answer the simulator can script, in a seeded random mix.
class TestSoak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void counterCards_data();
    void counterCards();
    void templateCards();
};

void TestSoak::counterCards_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("choice");
    QTest::newRow("three tracks") << quint32(20240607) << int(CommandSet::Track123);
    QTest::newRow("track 1") << quint32(7) << int(CommandSet::Track1);
}

void TestSoak::counterCards()
{
    QFETCH(quint32, seed);
    QFETCH(int, choice);
    CounterComposer counter;
    soak(seed, choice, counter.composer(), [choice](int n) { return counterCard(choice, n); });
}

void TestSoak::templateCards()
{
    TemplateCards::PositionCells cells;
    TemplateSet committed = TemplateCards::make(cells);
    soak(99, CommandSet::Track123, TemplateCards::composer(committed, cells), TemplateCards::cardOf);
}

int runSoakTests(int argc, char** argv)
{
    TestSoak t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_soak.moc"
