#include "fakecells.h"

#include "writing/composetracktext.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// One slot on track `track`, the rest empty.
TemplateSet oneSlot(int track, const QString& text, quint8 kind, int digits)
{
    TemplateSet set;
    set.track(track).slotText[0] = text;
    set.track(track).SegmentKind[0] = kind;
    set.track(track).DigitCount = digits;
    return set;
}

TemplateSet excelSlot(int track, quint8 direction, int row, int step, int digits = 1)
{
    TemplateSet set = oneSlot(track, QStringLiteral("preview"), ExcelSegment, digits);
    TrackTemplate& t = set.track(track);
    t.ExcelDirection[0] = direction;
    t.ExcelColumn[0] = 3;
    t.ExcelRow[0] = row;
    t.ExcelStep[0] = step;
    return set;
}

// Composes `count` cards of one track, committing each as the write loop does.
QStringList cards(TemplateSet& set, int track, int count, CellSource& cells)
{
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        const ComposedCard card = composeCard(set, {track}, cells);
        texts.append(card.texts.track(track));
        set = card.advanced;
    }
    return texts;
}

QString failureOf(const TemplateSet& set, const QList<int>& tracks, CellSource& cells)
{
    try {
        composeCard(set, tracks, cells);
    } catch (const Failure& failure) {
        return failure.text();
    }
    return {};
}

} // namespace

class TestGeneration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void counters_data();
    void counters();
    void excelRows_data();
    void excelRows();
    void excelValues_data();
    void excelValues();
    void emptyExcelCellGivesZerosThenIsSkipped();
    void cardForTheStripeIsRefused_data();
    void cardForTheStripeIsRefused();
    void slotOrderHoldsWhateverTheKinds();
    void upperCaseOnTrack1Only_data();
    void upperCaseOnTrack1Only();
    void digitCountIsClamped_data();
    void digitCountIsClamped();
    void emptyTemplateGivesEmptyText();
    void failingReadLeavesTemplateUnchanged();
    void badCounterText_data();
    void badCounterText();
    void counterOverflowStops_data();
    void counterOverflowStops();
    void cardCarriesItsTracksOnly_data();
    void cardCarriesItsTracksOnly();
};

void TestGeneration::counters_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("slotAfter");
    QTest::newRow("7+3 D4") << QStringLiteral("7+3") << 1 << 4 << QStringList{u"0007"_s, u"0010"_s, u"0013"_s}
                            << u"16+3"_s;
    QTest::newRow("wider than D") << QStringLiteral("123+1") << 1 << 2 << QStringList{u"123"_s, u"124"_s} << u"125+1"_s;
    QTest::newRow("step 0") << QStringLiteral("5+0") << 1 << 4 << QStringList{u"0005"_s, u"0005"_s, u"0005"_s}
                            << u"5+0"_s;
    QTest::newRow("0+0") << QStringLiteral("0+0") << 1 << 1 << QStringList{u"0"_s, u"0"_s} << u"0+0"_s;
    QTest::newRow("5-5 one card") << QStringLiteral("5-5") << 2 << 1 << QStringList{u"5"_s} << u"0-5"_s;
    QTest::newRow("5-5 to the floor") << QStringLiteral("5-5") << 2 << 1 << QStringList{u"5"_s, u"0"_s, u"0"_s, u"0"_s}
                                      << u"0-0"_s;
    QTest::newRow("2-5 to the floor") << QStringLiteral("2-5") << 2 << 1 << QStringList{u"2"_s, u"0"_s, u"0"_s}
                                      << u"0-0"_s;
    QTest::newRow("5-10 D3") << QStringLiteral("5-10") << 2 << 3 << QStringList{u"005"_s, u"000"_s} << u"0-0"_s;
    QTest::newRow("the sign decides") << QStringLiteral("9-4") << 1 << 1 << QStringList{u"9"_s, u"5"_s} << u"1-4"_s;
    QTest::newRow("no sign") << QStringLiteral("17") << 1 << 4 << QStringList{u""_s, u""_s} << u"17"_s;
}

void TestGeneration::counters()
{
    QFETCH(QString, slot);
    QFETCH(int, kind);
    QFETCH(int, digits);
    QFETCH(QStringList, expected);
    QFETCH(QString, slotAfter);
    FakeCells cells;
    TemplateSet set = oneSlot(2, slot, quint8(kind), digits);
    QCOMPARE(cards(set, 2, int(expected.size()), cells), expected);
    QCOMPARE(set.track(2).slotText[0], slotAfter);
    QVERIFY(cells.reads.isEmpty());
}

void TestGeneration::excelRows_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("rowsRead");
    QTest::newRow("rising from 1") << 1 << 1 << 1 << 1 << QList<int>{2, 3};
    QTest::newRow("rising by 5, track 3") << 3 << 1 << 10 << 5 << QList<int>{15, 20, 25};
    QTest::newRow("falling from 3 by 5") << 2 << 0 << 3 << 5 << QList<int>{1, 1, 1};
    QTest::newRow("falling by 3") << 2 << 0 << 10 << 3 << QList<int>{7, 4, 1, 1};
    QTest::newRow("falling to 2, then 1") << 2 << 0 << 4 << 2 << QList<int>{2, 1, 1};
    QTest::newRow("rising step 0") << 1 << 1 << 5 << 0 << QList<int>{5, 5, 5};
    QTest::newRow("falling step 0") << 3 << 0 << 5 << 0 << QList<int>{5, 5};
    QTest::newRow("falling step 0 on row 1") << 3 << 0 << 1 << 0 << QList<int>{1, 1};
}

void TestGeneration::excelRows()
{
    QFETCH(int, track);
    QFETCH(int, direction);
    QFETCH(int, row);
    QFETCH(int, step);
    QFETCH(QList<int>, rowsRead);
    FakeCells cells;
    for (int r = 1; r <= 30; ++r)
        cells.set(r, 3, QStringLiteral("r%1").arg(r));
    TemplateSet set = excelSlot(track, quint8(direction), row, step);
    const QStringList texts = cards(set, track, int(rowsRead.size()), cells);
    QList<int> read;
    for (const auto& cell : cells.reads) {
        read.append(cell.first);
        QCOMPARE(cell.second, 3);
    }
    QCOMPARE(read, rowsRead);
    QCOMPARE(set.track(track).ExcelRow[0], rowsRead.last());
    QCOMPARE(texts.last().toUpper(), QStringLiteral("R%1").arg(rowsRead.last()));
    QCOMPARE(set.track(track).slotText[0], QStringLiteral("r%1").arg(rowsRead.last()));
}

void TestGeneration::excelValues_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("slotAfter");
    QTest::newRow("number") << QStringLiteral("12") << u"0012"_s << u"12"_s;
    QTest::newRow("wider than D") << QStringLiteral("ABCDEF") << u"ABCDEF"_s << u"ABCDEF"_s;
    QTest::newRow("two lines") << QStringLiteral("7\n8") << u"0007"_s << u"7"_s;
    QTest::newRow("CR LF") << QStringLiteral("12345\r\nsecond") << u"12345"_s << u"12345"_s;
    QTest::newRow("empty first line") << QStringLiteral("\nsecond") << u"000 "_s << u" "_s;
    QTest::newRow("signs change no counter") << QStringLiteral("1+2") << u"01+2"_s << u"1+2"_s;
}

void TestGeneration::excelValues()
{
    QFETCH(QString, value);
    QFETCH(QString, output);
    QFETCH(QString, slotAfter);
    FakeCells cells;
    cells.set(2, 3, value);
    TemplateSet set = excelSlot(2, ExcelRowRises, 1, 1, 4);
    QCOMPARE(cards(set, 2, 1, cells), QStringList{output});
    QCOMPARE(set.track(2).slotText[0], slotAfter);
    QCOMPARE(set.track(2).SegmentKind[0], quint8(ExcelSegment));
}

void TestGeneration::emptyExcelCellGivesZerosThenIsSkipped()
{
    FakeCells cells;
    TemplateSet set = excelSlot(3, ExcelRowRises, 1, 1, 4);
    QCOMPARE(cards(set, 3, 3, cells), (QStringList{u"0000"_s, u""_s, u""_s}));
    QCOMPARE(cells.reads.size(), 1);
    QCOMPARE(set.track(3).ExcelRow[0], 2);
    QCOMPARE(set.track(3).slotText[0], QString());
}

void TestGeneration::cardForTheStripeIsRefused_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("cell");    // the worksheet value the card reads, at C2
    QTest::addColumn<QString>("text");    // a text slot after it
    QTest::addColumn<QString>("message"); // empty: the card is fine
    QTest::newRow("digits on track 2") << 2 << u"12=34"_s << u";"_s << QString();
    QTest::newRow("B on track 2") << 2 << u"12B34"_s << QString()
                                  << u"Карточка не отправлена: дорожка 2 не может нести символ «B» (ячейка C2)."_s;
    QTest::newRow("ESC on track 3")
        << 3 << u"12\x1b"_s << QString()
        << u"Карточка не отправлена: дорожка 3 не может нести символ с кодом 0x1B (ячейка C2)."_s;
    QTest::newRow("GS on track 1")
        << 1 << u"AB\x1d"_s << QString()
        << u"Карточка не отправлена: дорожка 1 не может нести символ с кодом 0x1D (ячейка C2)."_s;
    QTest::newRow("Cyrillic on track 1")
        << 1 << u"ИВАНОВ"_s << QString()
        << u"Карточка не отправлена: дорожка 1 не может нести символ «И» (ячейка C2)."_s;
    QTest::newRow("sentinel in a text slot")
        << 1 << u"IVANOV"_s << u"%"_s << u"Карточка не отправлена: дорожка 1 не может нести символ «%» (слот 2)."_s;
    QTest::newRow("empty cell: the end of the data")
        << 2 << QString() << QString() << u"Карточка не отправлена: ячейка C2 пуста, данные для дорожки 2 кончились."_s;
}

// A card made to be encoded carries only what its track's stripe can hold, and an
// empty cell ends the data instead of giving zeros; nothing of the template moves.
void TestGeneration::cardForTheStripeIsRefused()
{
    QFETCH(int, track);
    QFETCH(QString, cell);
    QFETCH(QString, text);
    QFETCH(QString, message);
    FakeCells cells;
    cells.set(2, 3, cell);
    TemplateSet set = excelSlot(track, ExcelRowRises, 1, 1, 1);
    set.track(track).slotText[1] = text;
    const TemplateSet before = set;
    QString refusal;
    try {
        composeCard(set, {track}, cells, true);
    } catch (const Refusal& r) {
        refusal = r.text();
    }
    QCOMPARE(refusal, message);
    QCOMPARE(set, before);
}

void TestGeneration::slotOrderHoldsWhateverTheKinds()
{
    FakeCells cells;
    cells.set(6, 3, QStringLiteral("X"));
    TemplateSet set = excelSlot(3, ExcelRowRises, 5, 1, 2);
    TrackTemplate& t = set.track(3);
    t.slotText[1] = QStringLiteral("=");
    t.slotText[2] = QStringLiteral("4+1");
    t.SegmentKind[2] = RisingCounterSegment;
    t.slotText[4] = QStringLiteral("-+");
    t.slotText[8] = QStringLiteral(";");
    QCOMPARE(cards(set, 3, 2, cells), (QStringList{u"0X=04-+;"_s, u"00=05-+;"_s}));
    QCOMPARE(set.track(3).slotText[2], QStringLiteral("6+1"));
    QCOMPARE(set.track(3).slotText[4], QStringLiteral("-+"));
}

void TestGeneration::upperCaseOnTrack1Only_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("expected");
    QTest::newRow("track 1") << 1 << QStringLiteral("AB ВЁЖCD");
    QTest::newRow("track 2") << 2 << QStringLiteral("ab вёжcd");
    QTest::newRow("track 3") << 3 << QStringLiteral("ab вёжcd");
}

void TestGeneration::upperCaseOnTrack1Only()
{
    QFETCH(int, track);
    QFETCH(QString, expected);
    FakeCells cells;
    cells.set(2, 3, QStringLiteral("cd"));
    TemplateSet set = excelSlot(track, ExcelRowRises, 1, 1, 1);
    TrackTemplate& t = set.track(track);
    t.slotText[0] = QStringLiteral("ab вёж");
    t.SegmentKind[0] = TextSegment;
    t.slotText[1] = QStringLiteral("x");
    t.SegmentKind[1] = ExcelSegment;
    t.ExcelDirection[1] = ExcelRowRises;
    t.ExcelColumn[1] = 3;
    t.ExcelRow[1] = 1;
    t.ExcelStep[1] = 1;
    QCOMPARE(cards(set, track, 1, cells), QStringList{expected});
    QCOMPARE(set.track(track).slotText[1], QStringLiteral("cd"));
}

void TestGeneration::digitCountIsClamped_data()
{
    QTest::addColumn<int>("digitCount");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("output");
    QTest::newRow("never added to") << 0 << 1 << QStringLiteral("7");
    QTest::newRow("within") << 3 << 3 << QStringLiteral("007");
    QTest::newRow("above 10") << 15 << 10 << QStringLiteral("0000000007");
}

void TestGeneration::digitCountIsClamped()
{
    QFETCH(int, digitCount);
    QFETCH(int, shown);
    QFETCH(QString, output);
    FakeCells cells;
    TemplateSet set = oneSlot(1, QStringLiteral("7+1"), RisingCounterSegment, digitCount);
    const TrackText text = ComposeTrackText(set, 1, cells);
    QCOMPARE(text.text, output);
    QCOMPARE(text.digitCount, shown);
    QCOMPARE(composeCard(TemplateSet(), {1, 2}, cells).digitCount, 1);
}

void TestGeneration::emptyTemplateGivesEmptyText()
{
    FakeCells cells;
    const ComposedCard card = composeCard(TemplateSet(), {1, 2, 3}, cells);
    QCOMPARE(card.texts, CardTexts());
    QCOMPARE(card.advanced, TemplateSet());
}

void TestGeneration::failingReadLeavesTemplateUnchanged()
{
    FakeCells cells;
    cells.failAtRead = 1;
    TemplateSet set = oneSlot(1, QStringLiteral("7+3"), RisingCounterSegment, 4);
    TemplateSet track2 = excelSlot(2, ExcelRowRises, 1, 1);
    set.track(2) = track2.track(2);
    set.track(2).slotText[1] = QStringLiteral("1+1");
    set.track(2).SegmentKind[1] = RisingCounterSegment;
    set.track(2).slotText[2] = QStringLiteral("y");
    set.track(2).SegmentKind[2] = ExcelSegment;
    set.track(2).ExcelDirection[2] = ExcelRowFalls;
    set.track(2).ExcelRow[2] = 9;
    set.track(2).ExcelStep[2] = 2;
    const TemplateSet before = set;
    QCOMPARE(failureOf(set, {1, 2}, cells), QStringLiteral("Cell 7,0 cannot be read"));
    QCOMPARE(set, before);
    QCOMPARE(cells.reads.size(), 2);
}

void TestGeneration::badCounterText_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("error");
    QTest::newRow("value") << QStringLiteral("abc+1") << QStringLiteral("'abc' is not a valid integer value.");
    QTest::newRow("empty value") << QStringLiteral("+5") << QStringLiteral("'' is not a valid integer value.");
    QTest::newRow("empty step") << QStringLiteral("5-") << QStringLiteral("'' is not a valid integer value.");
    QTest::newRow("beyond 32 bits") << QStringLiteral("2147483648+1")
                                    << QStringLiteral("'2147483648' is not a valid integer value.");
}

void TestGeneration::badCounterText()
{
    QFETCH(QString, slot);
    QFETCH(QString, error);
    FakeCells cells;
    TemplateSet set = oneSlot(1, QStringLiteral("1+1"), RisingCounterSegment, 1);
    set.track(1).slotText[1] = slot;
    set.track(1).SegmentKind[1] = FallingCounterSegment;
    const TemplateSet before = set;
    QCOMPARE(failureOf(set, {1}, cells), error);
    QCOMPARE(set, before);
}

void TestGeneration::counterOverflowStops_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<int>("cardsBefore");
    QTest::addColumn<QString>("error");
    QTest::newRow("at once") << 2 << QStringLiteral("2147483647+1") << 0
                             << QStringLiteral("Счётчик дорожки 2 превысил 2147483647");
    QTest::newRow("after a card") << 3 << QStringLiteral("2147483640+7") << 1
                                  << QStringLiteral("Счётчик дорожки 3 превысил 2147483647");
}

void TestGeneration::counterOverflowStops()
{
    QFETCH(int, track);
    QFETCH(QString, slot);
    QFETCH(int, cardsBefore);
    QFETCH(QString, error);
    FakeCells cells;
    TemplateSet set = oneSlot(track, slot, RisingCounterSegment, 1);
    cards(set, track, cardsBefore, cells);
    const TemplateSet before = set;
    QCOMPARE(failureOf(set, {track}, cells), error);
    QCOMPARE(set, before);
}

void TestGeneration::cardCarriesItsTracksOnly_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<QList<int>>("tracks");
    QTest::newRow("Track 1") << 0 << QList<int>{1};
    QTest::newRow("Track 2") << 1 << QList<int>{2};
    QTest::newRow("Track 3") << 2 << QList<int>{3};
    QTest::newRow("Track 1 & 2") << 3 << QList<int>{1, 2};
    QTest::newRow("Track 2 & 3") << 4 << QList<int>{2, 3};
    QTest::newRow("Track 1 & 2 & 3") << 5 << QList<int>{1, 2, 3};
}

void TestGeneration::cardCarriesItsTracksOnly()
{
    QFETCH(int, choice);
    QFETCH(QList<int>, tracks);
    QCOMPARE(tracksOfChoice(choice), tracks);
    FakeCells cells;
    TemplateSet set;
    for (int t = 1; t <= 3; ++t) {
        set.track(t).slotText[0] = QStringLiteral("%1+10").arg(t);
        set.track(t).SegmentKind[0] = RisingCounterSegment;
    }
    const ComposedCard card = composeCard(set, tracks, cells);
    for (int t = 1; t <= 3; ++t) {
        const bool carried = tracks.contains(t);
        QCOMPARE(card.texts.track(t), carried ? QString::number(t) : QString());
        QCOMPARE(card.advanced.track(t).slotText[0], QStringLiteral("%1+10").arg(carried ? t + 10 : t));
    }
}

int runGenerationTests(int argc, char** argv)
{
    TestGeneration test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_generation.moc"
