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
    void batchWithoutWorksheet();
    void cancelledFromAnotherThread();
};

void TestPreflight::batchAhead_data()
{
    QTest::addColumn<QString>("cells");    // changes to the clean sheet
    QTest::addColumn<bool>("counter");     // track 2 ends in a counter 98+1 of two digits
    QTest::addColumn<int>("journalRow");   // the journal holds the card of this row; 0 none
    QTest::addColumn<int>("size");         // the batch's size; 0 to the end of the data
    QTest::addColumn<int>("cards");        // cards the batch holds
    QTest::addColumn<QString>("endCell");  // the empty cell that ends the data; empty: the size ended it
    QTest::addColumn<QList<int>>("kinds"); // the problems; the first is named in full
    QTest::addColumn<int>("card");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("message");
    using P = Preflight::Problem;
    const auto k = [](std::initializer_list<P> kinds) {
        QList<int> out;
        for (const P kind : kinds)
            out << int(kind);
        return out;
    };
    QTest::newRow("clean batch") << QString() << false << 0 << 0 << 10 << u"C12"_s << k({}) << 0 << 0 << QString()
                                 << QString();
    QTest::newRow("B for track 2 in row 5")
        << u"B5=40001234B0000005"_s << false << 0 << 0 << 10 << u"C12"_s << k({P::Character}) << 4 << 5 << u"B5"_s
        << u"Дорожка 2 не может нести символ «B»."_s;
    QTest::newRow("over-long text in row 7")
        << u"C7="_s + QString(80, QLatin1Char('X')) << false << 0 << 0 << 10 << u"C12"_s << k({P::OverLong}) << 6 << 7
        << u"C7"_s << u"Очень длинная строка: на дорожке 1 80 знаков, дорожка вмещает 79."_s;
    QTest::newRow("empty cell in row 9 ends the data")
        << u"B9="_s << false << 0 << 0 << 7 << u"B9"_s << k({}) << 0 << 0 << QString() << QString();
    QTest::newRow("row 8 repeats row 3") << u"B8=4000123400000003|C8=IVANOV 3"_s << false << 0 << 0 << 10 << u"C12"_s
                                         << k({P::Duplicate}) << 7 << 8 << u"C8"_s
                                         << u"Тексты дорожек те же, что у карточки 2 (строка 3)."_s;
    QTest::newRow("row 6 already written")
        << QString() << false << 6 << 0 << 10 << u"C12"_s << k({P::AlreadyWritten}) << 5 << 6 << u"C6"_s
        << u"Карточка с этими текстами дорожек уже записана: она есть в журнале."_s;
    QTest::newRow("counter grows a digit at row 4: a warning")
        << QString() << true << 0 << 0 << 10 << u"C12"_s << k({P::CounterWidens}) << 3 << 4 << QString()
        << u"Счётчик дорожки 2 (слот 3) дошёл до 100: больше 2 знаков, текст дорожки с этой карточки длиннее."_s;
    QTest::newRow("the grown counter overflows track 2 at row 4")
        << u"B4="_s + QString(37, u'4') << true << 0 << 0 << 10 << u"C12"_s << k({P::OverLong, P::CounterWidens}) << 3
        << 4 << u"B4"_s << u"Очень длинная строка: на дорожке 2 41 знаков, дорожка вмещает 40."_s;
    QTest::newRow("size within the data")
        << QString() << false << 0 << 4 << 4 << QString() << k({}) << 0 << 0 << QString() << QString();
    QTest::newRow("size past the data") << QString() << false << 0 << 12 << 10 << u"C12"_s << k({P::ShortOfSize}) << 11
                                        << 12 << u"C12"_s << u"Данные кончаются на карточке 11 из 12."_s;
}

// Each kind of problem, named with its card, row and cell, and the batch goes on past it.
void TestPreflight::batchAhead()
{
    QFETCH(QString, cells);
    QFETCH(bool, counter);
    QFETCH(int, journalRow);
    QFETCH(int, size);
    QFETCH(int, cards);
    QFETCH(QString, endCell);
    QFETCH(QList<int>, kinds);
    FakeCells sheet;
    fillSheet(sheet);
    applyCells(sheet, cells);
    Preflight::Input input{batchTemplates(counter), TracksOneAndTwo, {}, 0, size};
    const QString written = journalRow > 0 ? sheet.values.value({journalRow, ColumnC}) + u'|' +
                                                 sheet.values.value({journalRow, ColumnB}) + u'='
                                           : QString();
    input.alreadyWritten = [written](const QString& t1, const QString& t2, const QString& t3) {
        return t3.isEmpty() && t1 + u'|' + t2 == written;
    };

    const Preflight::Result result = Preflight::run(input, sheet);

    QCOMPARE(result.cards.size(), cards);
    QCOMPARE(bool(result.end), !endCell.isEmpty());
    QVERIFY(!result.partial);
    if (result.end) {
        QCOMPARE(result.end->kind, Preflight::Problem::EndOfData);
        QCOMPARE(result.end->card, cards + 1);
        QCOMPARE(result.end->cell, endCell);
        QCOMPARE(result.end->message,
                 u"Данные кончаются на строке %1: в партии %2 карточек."_s.arg(cards + 2).arg(cards));
    }
    QCOMPARE(result.cards.first().row, 2);
    QCOMPARE(result.cards.last().row, cards + 1);
    if (!counter)
        QCOMPARE(result.cards.first().texts,
                 (std::array<QString, 3>{u"IVANOV 2"_s, u"4000123400000002="_s, QString()}));
    QList<int> found;
    for (const Preflight::Issue& issue : result.problems)
        found << int(issue.kind);
    QCOMPARE(found, kinds);
    QCOMPARE(result.clean(), kinds.isEmpty());
    if (kinds.isEmpty()) {
        QCOMPARE(result.cardsBeforeFirstStop(), cards);
        return;
    }
    QFETCH(int, card);
    QFETCH(int, row);
    QFETCH(QString, cell);
    QFETCH(QString, message);
    const Preflight::Issue expected{Preflight::Problem(kinds.first()), card, row, cell, message};
    QCOMPARE(result.problems.first(), expected);
    const bool stops = Preflight::stopsRun(expected.kind);
    QCOMPARE(result.stops().size(), stops ? 1 : 0);
    QCOMPARE(result.cardsBeforeFirstStop(), stops ? card - 1 : cards);
}

// The templates are a copy. Without a size, counters and text have no end to
// judge the batch by: only the first cards are composed. With one, exactly its
// cards; identical cards of fixed text are what the operator asked for.
void TestPreflight::batchWithoutWorksheet()
{
    TemplateSet set;
    set.track(3).slotText[0] = u"1+1"_s;
    set.track(3).SegmentKind[0] = RisingCounterSegment;
    set.track(3).DigitCount = 6;
    const TemplateSet before = set;
    FakeCells none;
    QVERIFY(!Preflight::judgedWhole(set, 2, 0));
    const Preflight::Result unsized = Preflight::run({set, 2, {}, 0}, none);
    QCOMPARE(unsized.cards.size(), Preflight::CardsWithoutSize);
    QVERIFY(unsized.partial && unsized.clean());
    QList<int> reports;
    const Preflight::Result result = Preflight::run({set, 2, {}, 0, 10000}, none, nullptr, [&](int done, int expected) {
        QCOMPARE(expected, 10000);
        reports.append(done);
    });
    QCOMPARE(set, before);
    QCOMPARE(result.cards.size(), 10000);
    QCOMPARE(result.cards.last().texts[2], u"010000"_s);
    QVERIFY(!result.end && !result.partial);
    QVERIFY(result.clean());
    QCOMPARE(reports.last(), 10000);
    QVERIFY(none.reads.isEmpty());

    // "7+3" of four digits reaches 10000 at card 3332: a warning, the run goes on.
    set.track(3).slotText[0] = u"7+3"_s;
    set.track(3).DigitCount = 4;
    const Preflight::Result widens = Preflight::run({set, 2, {}, 0, 3400}, none);
    QCOMPARE(widens.problems.size(), 1);
    QCOMPARE(widens.problems.first().kind, Preflight::Problem::CounterWidens);
    QCOMPARE(widens.problems.first().card, 3332);
    QVERIFY(widens.stops().isEmpty() && !widens.clean());
    QCOMPARE(widens.cardsBeforeFirstStop(), 3400);

    // Fixed text: twenty cards the same, no problem; a counter that stands still repeats: a warning.
    set.track(3).slotText[0] = u"1234"_s;
    set.track(3).SegmentKind[0] = TextSegment;
    QVERIFY(Preflight::run({set, 2, {}, 0, 20}, none).clean());
    set.track(3).slotText[1] = u"5+0"_s;
    set.track(3).SegmentKind[1] = RisingCounterSegment;
    const Preflight::Result repeats = Preflight::run({set, 2, {}, 0, 20}, none);
    QCOMPARE(repeats.warnings().size(), 19);
    QCOMPARE(repeats.warnings().first().kind, Preflight::Problem::Duplicate);

    // Tracks 2 and 3 with nothing on track 2: no card would ever go out.
    const Preflight::Result empty = Preflight::run({set, 4, {}, 0, 50}, none);
    QCOMPARE(empty.stops().size(), 50);
    QCOMPARE(empty.cardsBeforeFirstStop(), 0);
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
        result = Preflight::run({set, 0, {}, 0, Preflight::MostCards}, none, &cancel, [&](int done, int) {
            if (done > 0 && !told.exchange(true))
                started.set_value();
        });
    });
    started.get_future().wait();
    cancel = true;
    worker.join();
    QVERIFY(result.cancelled);
    QVERIFY(result.cards.size() >= 512);
    QVERIFY(result.cards.size() < Preflight::MostCards);
    QVERIFY(!result.end);
}

int runPreflightTests(int argc, char** argv)
{
    TestPreflight test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_preflight.moc"
