#include "fakecells.h"

#include "writing/preflight.h"

#include <QSet>
#include <QTest>

#include <future>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr int TracksOneAndTwo = 3;
constexpr int ColumnB = 2;
constexpr int ColumnC = 3;

// Rows 2..11 of a batch of ten cards: a name in C for track 1, a card number
// in B for track 2; row 12 is empty, the end of the data.
void fillSheet(FakeCells& cells)
{
    for (int row = 2; row <= 11; ++row) {
        cells.set(row, ColumnB, u"40001234000000%1"_s.arg(row, 2, 10, QLatin1Char('0')));
        cells.set(row, ColumnC, u"IVANOV %1"_s.arg(row));
    }
}

// "CELL=VALUE|CELL=VALUE": B5=... sets column B of row 5; "B5=C3" style copies are spelled out.
void applyCells(FakeCells& cells, const QString& layout)
{
    for (const QString& part : layout.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        const int column = part.at(0).unicode() - u'A' + 1;
        cells.set(part.mid(1, eq - 1).toInt(), column, part.mid(eq + 1));
    }
}

void excelSlot(TemplateSet& set, int track, int slot, int column)
{
    TrackTemplate& t = set.track(track);
    t.slotText[slot] = u"preview"_s;
    t.SegmentKind[slot] = ExcelSegment;
    t.ExcelDirection[slot] = ExcelRowRises;
    t.ExcelColumn[slot] = column;
    t.ExcelRow[slot] = 1;
    t.ExcelStep[slot] = 1;
}

// Track 1 the name; track 2 the card number, "=" and, with `counter`, a
// counter 98+1 of two digits.
TemplateSet batchTemplates(bool counter)
{
    TemplateSet set;
    excelSlot(set, 1, 0, ColumnC);
    excelSlot(set, 2, 0, ColumnB);
    set.track(2).slotText[1] = u"="_s;
    if (counter) {
        set.track(2).slotText[2] = u"98+1"_s;
        set.track(2).SegmentKind[2] = RisingCounterSegment;
    }
    set.track(1).DigitCount = set.track(2).DigitCount = 2;
    return set;
}

} // namespace

class TestPreflight : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void batchAhead_data();
    void batchAhead();
    void nothingAdvancesAndNoWorksheetRunsTenThousand();
    void cancelledFromAnotherThread();
};

void TestPreflight::batchAhead_data()
{
    QTest::addColumn<QString>("cells");   // changes to the clean sheet
    QTest::addColumn<bool>("counter");    // track 2 ends in a counter 98+1 of two digits
    QTest::addColumn<int>("journalRow");  // the journal holds the card of this row; 0 none
    QTest::addColumn<int>("cards");       // cards the data gives
    QTest::addColumn<QString>("endCell"); // the empty cell that ends the data
    QTest::addColumn<int>("kind");        // of the one problem; -1 none
    QTest::addColumn<int>("card");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("message");
    const int none = -1;
    QTest::newRow("clean batch") << QString() << false << 0 << 10 << u"C12"_s << none << 0 << 0 << QString()
                                 << QString();
    QTest::newRow("B for track 2 in row 5")
        << u"B5=40001234B0000005"_s << false << 0 << 10 << u"C12"_s << int(Preflight::Problem::Character) << 4 << 5
        << u"B5"_s << u"Карточка не отправлена: дорожка 2 не может нести символ «B» (ячейка B5)."_s;
    QTest::newRow("over-long text in row 7")
        << u"C7="_s + QString(80, QLatin1Char('X')) << false << 0 << 10 << u"C12"_s << int(Preflight::Problem::OverLong)
        << 6 << 7 << u"C7"_s << u"Очень длинная строка: на дорожке 1 80 знаков, дорожка вмещает 79."_s;
    QTest::newRow("empty cell in row 9 ends the data")
        << u"B9="_s << false << 0 << 7 << u"B9"_s << none << 0 << 0 << QString() << QString();
    QTest::newRow("row 8 repeats row 3") << u"B8=4000123400000003|C8=IVANOV 3"_s << false << 0 << 10 << u"C12"_s
                                         << int(Preflight::Problem::Duplicate) << 7 << 8 << u"C8"_s
                                         << u"Тексты дорожек те же, что у карточки 2 (строка 3)."_s;
    QTest::newRow("row 6 already written")
        << QString() << false << 6 << 10 << u"C12"_s << int(Preflight::Problem::AlreadyWritten) << 5 << 6 << u"C6"_s
        << u"Карточка с этими текстами дорожек уже записана: она есть в журнале."_s;
    QTest::newRow("counter grows a digit at row 4")
        << QString() << true << 0 << 10 << u"C12"_s << int(Preflight::Problem::CounterWidens) << 3 << 4 << QString()
        << u"Счётчик дорожки 2 (слот 3) дошёл до 100: больше 2 знаков, текст дорожки с этой карточки длиннее."_s;
}

// Each kind of problem, named with its card, row and cell, and the batch goes on past it.
void TestPreflight::batchAhead()
{
    QFETCH(QString, cells);
    QFETCH(bool, counter);
    QFETCH(int, journalRow);
    QFETCH(int, cards);
    QFETCH(QString, endCell);
    QFETCH(int, kind);
    FakeCells sheet;
    fillSheet(sheet);
    applyCells(sheet, cells);
    Preflight::Input input{batchTemplates(counter), TracksOneAndTwo, {}, 0};
    const QString written = journalRow > 0 ? sheet.values.value({journalRow, ColumnC}) + u'|' +
                                                 sheet.values.value({journalRow, ColumnB}) + u'='
                                           : QString();
    input.alreadyWritten = [written](const QString& t1, const QString& t2, const QString& t3) {
        return t3.isEmpty() && t1 + u'|' + t2 == written;
    };

    const Preflight::Result result = Preflight::run(input, sheet);

    QCOMPARE(result.cards.size(), cards);
    QVERIFY(result.end);
    QCOMPARE(result.end->kind, Preflight::Problem::EndOfData);
    QCOMPARE(result.end->card, cards + 1);
    QCOMPARE(result.end->cell, endCell);
    QCOMPARE(result.cards.first().row, 2);
    QCOMPARE(result.cards.last().row, cards + 1);
    if (!counter)
        QCOMPARE(result.cards.first().texts,
                 (std::array<QString, 3>{u"IVANOV 2"_s, u"4000123400000002="_s, QString()}));
    if (kind < 0) {
        QVERIFY(result.problems.isEmpty());
        QVERIFY(result.clean());
        QCOMPARE(result.cardsBeforeFirstProblem(), cards);
        return;
    }
    QFETCH(int, card);
    QFETCH(int, row);
    QFETCH(QString, cell);
    QFETCH(QString, message);
    const Preflight::Issue expected{Preflight::Problem(kind), card, row, cell, message};
    QCOMPARE(result.problems.size(), 1);
    QCOMPARE(result.problems.first(), expected);
    QCOMPARE(result.cards.at(card - 1).row, card + 1);
    QVERIFY(!result.clean());
    QCOMPARE(result.cardsBeforeFirstProblem(), card - 1);
}

// The templates are a copy; counters alone give the next ten thousand cards.
void TestPreflight::nothingAdvancesAndNoWorksheetRunsTenThousand()
{
    TemplateSet set;
    set.track(3).slotText[0] = u"1+1"_s;
    set.track(3).SegmentKind[0] = RisingCounterSegment;
    set.track(3).DigitCount = 6;
    const TemplateSet before = set;
    FakeCells none;
    QList<int> reports;
    const Preflight::Result result = Preflight::run({set, 2, {}, 0}, none, nullptr, [&](int done, int expected) {
        QCOMPARE(expected, Preflight::CardsWithoutWorksheet);
        reports.append(done);
    });
    QCOMPARE(set, before);
    QCOMPARE(result.cards.size(), Preflight::CardsWithoutWorksheet);
    QCOMPARE(result.cards.last().texts[2], u"010000"_s);
    QVERIFY(!result.end);
    QVERIFY(result.clean());
    QCOMPARE(reports.last(), Preflight::CardsWithoutWorksheet);
    QVERIFY(none.reads.isEmpty());

    // Tracks 2 and 3 with nothing on track 2: no card would ever go out.
    const Preflight::Result empty = Preflight::run({set, 4, {}, 0}, none);
    QCOMPARE(empty.problems.size(), Preflight::CardsWithoutWorksheet);
    QCOMPARE(empty.problems.first(),
             (Preflight::Issue{Preflight::Problem::EmptyText,
                               1,
                               0,
                               {},
                               u"Текст дорожки 2 пуст: такая карточка не отправляется, запись будет ждать."_s}));
}

void TestPreflight::cancelledFromAnotherThread()
{
    TemplateSet set;
    set.track(1).slotText[0] = u"1+1"_s;
    set.track(1).SegmentKind[0] = RisingCounterSegment;
    FakeCells none;
    std::atomic_bool cancel = false;
    std::promise<void> started;
    std::atomic_bool told = false;
    Preflight::Result result;
    std::thread worker([&] {
        result = Preflight::run({set, 0, {}, 0}, none, &cancel, [&](int done, int) {
            if (done > 0 && !told.exchange(true))
                started.set_value();
        });
    });
    started.get_future().wait();
    cancel = true;
    worker.join();
    QVERIFY(result.cancelled);
    QVERIFY(result.cards.size() >= 512);
    QVERIFY(result.cards.size() < Preflight::CardsWithoutWorksheet);
    QVERIFY(!result.end);
}

int runPreflightTests(int argc, char** argv)
{
    TestPreflight test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_preflight.moc"
