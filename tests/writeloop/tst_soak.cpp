#include "simharness.h"

#include "templatecards.h"

#include "link/commandset.h"
#include "writing/journal.h"

#include <QSet>
#include <QTest>

#include <random>

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
void soak(quint32 seed, int choice, const WriteLoop::Composer& compose, const CardOfNumber& cardOf,
          bool expectRefusals = false)
{
    SimulatedRun run(QStringLiteral("random:%1").arg(seed));
    const Journal& journal = run.session->journal();
    std::mt19937 operatorChoices(seed);
    QList<SimCard> logged; // the card in hand at each "written" line, across runs
    const auto takeLines = [&](const QStringList& lines, int writtenBefore) {
        for (const QString& line : lines) {
            if (line == writtenLine(writtenBefore + 1)) {
                const CardTexts& e = run.tab.edits;
                logged.append({CommandSet::textToWire(e.track1), CommandSet::textToWire(e.track2),
                               CommandSet::textToWire(e.track3)});
            } else if (line != QString::number(writtenBefore + 1) + WriteLoop::noVerdictLine() &&
                       line != QString::number(writtenBefore + 1) + WriteLoop::sentAgainLine() &&
                       line != QString::number(writtenBefore + 1) + WriteLoop::unansweredAtStopLine()) {
                QCOMPARE(line, refusedLine(writtenBefore + 1));
            }
        }
    };
    int idle = 0;
    int runs = 1;
    int refusals = 0;
    // "Отмена" and "Записать" again: an answer that has come is still taken.
    const auto stopAndStartAgain = [&] {
        const int writtenBefore = run.loop().cardsWritten();
        takeLines(run.session->stopRun().logLines, writtenBefore);
        run.tab.start(*run.session);
        ++runs;
    };
    run.tab.start(*run.session);
    for (int step = 0; logged.size() < Cards && step < 40 * Cards; ++step) {
        const qsizetype framesBefore = run.engine.frames().size();
        const int writtenBefore = run.loop().cardsWritten();
        const WriteLoop::Tick t = run.step(choice, compose);
        if (t.stop == WriteLoop::Tick::Stop::Refused) {
            // The workbook was caught mid-rewrite: nothing moved, the run has stopped;
            // the operator starts again.
            QVERIFY2(t.error.contains(QStringLiteral("ячейка")), qPrintable(t.error));
            QVERIFY(!run.loop().running());
            takeLines(t.logLines, writtenBefore);
            ++refusals;
            run.tab.start(*run.session);
            ++runs;
            continue;
        }
        QCOMPARE(t.stop, WriteLoop::Tick::Stop::None);
        takeLines(t.logLines, writtenBefore);
        QCOMPARE(run.tab.label, run.loop().cardsWritten() == 0 ? WriteLoop::countLabelAtStart()
                                                               : WriteLoop::countLabel(run.loop().cardsWritten()));
        idle = run.engine.frames().size() == framesBefore && t.logLines.isEmpty() ? idle + 1 : 0;
        // The operator gives up on an answer, or stops at any moment.
        if (idle == PatienceSteps || operatorChoices() % 25 == 0) {
            stopAndStartAgain();
            idle = 0;
        }
    }
    QCOMPARE(logged.size(), Cards);
    QVERIFY(runs > 1);
    if (expectRefusals)
        QVERIFY(refusals > 0);

    // The window's log: cards 1, 2, 3, ... each written once, none skipped.
    for (qsizetype i = 0; i < logged.size(); ++i)
        QCOMPARE(logged[i].toLine(), cardOf(int(i) + 1).toLine());
    // The journal agrees with it line for line, and names every card a stop left unanswered.
    QList<SimCard> journalled;
    QSet<QByteArray> unansweredAtStop;
    for (const Journal::Entry& e : Journal::read(journal.path())) {
        const SimCard card{CommandSet::textToWire(e.texts.track1), CommandSet::textToWire(e.texts.track2),
                           CommandSet::textToWire(e.texts.track3)};
        if (e.outcome == Journal::Outcome::Written)
            journalled.append(card);
        if (e.outcome == Journal::Outcome::UnansweredAtStop)
            unansweredAtStop.insert(card.toLine());
    }
    QCOMPARE(lines(journalled), lines(logged));
    // The stripes hold the same sequence. A card may be on two stripes only when a
    // stop came between its swipe and its answer, and the journal says so.
    for (const TerminalSimulator::Frame& f : run.engine.frames())
        QVERIFY2(f.ok(), qPrintable(f.problem));
    const QList<SimCard>& encoded = run.engine.encodedCards();
    qsizetype k = 0;
    for (int n = 1; n <= Cards; ++n) {
        QVERIFY(k < encoded.size());
        QCOMPARE(encoded[k].toLine(), cardOf(n).toLine());
        for (++k; k < encoded.size() && encoded[k] == cardOf(n); ++k)
            QVERIFY2(unansweredAtStop.contains(cardOf(n).toLine()), cardOf(n).toLine().constData());
    }
    QCOMPARE(k, encoded.size());
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
    // The worksheet is now and then read while it is being rewritten.
    TemplateCards::RewrittenCells cells(99);
    TemplateCards::PositionCells steady;
    TemplateSet committed = TemplateCards::make(steady);
    soak(99, CommandSet::Track123, TemplateCards::composer(committed, cells), TemplateCards::cardOf, true);
}

int runSoakTests(int argc, char** argv)
{
    TestSoak t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_soak.moc"
