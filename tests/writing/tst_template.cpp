#include "fakecells.h"

#include "writing/tracktemplate.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

AddRequest textAdd(const QString& text, int digits = 4)
{
    AddRequest request;
    request.kindItem = 0;
    request.text = text;
    request.digitCount = digits;
    return request;
}

AddRequest excelAdd(int row, int step, int directionItem, int column = 2)
{
    AddRequest request;
    request.kindItem = 3;
    request.excelRow = row;
    request.excelStep = step;
    request.excelDirectionItem = directionItem;
    request.excelColumn = column;
    return request;
}

FakeCells numberedColumn(int column)
{
    FakeCells cells;
    for (int row = 1; row <= 20; ++row)
        cells.set(row, column, u"r%1"_s.arg(row));
    return cells;
}

} // namespace

class TestTemplate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void counterAddWritesValueSignStep_data();
    void counterAddWritesValueSignStep();
    void emptyTextEmptiesSlot();
    void addOfAnotherKindKeepsExcelParameters();
    void everyAddSetsDigitCount_data();
    void everyAddSetsDigitCount();
    void remainingCapacity_data();
    void remainingCapacity();
    void excelPreview_data();
    void excelPreview();
    void excelPreviewKeepsFirstLine();
    void failingFirstReadLeavesSlotUnchanged();
    void failingPreviewKeepsEnteredRow();
    void deleteEmptiesOnlyTheText();
    void columnLetter_data();
    void columnLetter();
    void textKeys_data();
    void textKeys();
};

void TestTemplate::counterAddWritesValueSignStep_data()
{
    QTest::addColumn<int>("kindItem");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::newRow("100+1") << 1 << 100 << 1 << u"100+1"_s << 1;
    QTest::newRow("0+0") << 1 << 0 << 0 << u"0+0"_s << 1;
    QTest::newRow("5-10 not compared") << 2 << 5 << 10 << u"5-10"_s << 2;
    QTest::newRow("largest") << 2 << 999999 << 999999 << u"999999-999999"_s << 2;
}

void TestTemplate::counterAddWritesValueSignStep()
{
    QFETCH(int, kindItem);
    QFETCH(int, start);
    QFETCH(int, step);
    QFETCH(QString, text);
    QFETCH(int, kind);
    FakeCells cells;
    TemplateSet set;
    AddRequest request;
    request.kindItem = kindItem;
    request.counterStart = start;
    request.counterStep = step;
    QCOMPARE(set.add(2, 4, request, false, cells), AddOutcome::Done);
    QCOMPARE(set.track(2).slotText[4], text);
    QCOMPARE(int(set.track(2).SegmentKind[4]), kind);
}

void TestTemplate::emptyTextEmptiesSlot()
{
    FakeCells cells;
    TemplateSet set;
    AddRequest counter;
    counter.kindItem = 1;
    set.add(1, 0, counter, false, cells);
    set.add(1, 0, textAdd(QString()), false, cells);
    QCOMPARE(set.track(1).slotText[0], QString());
    QCOMPARE(set.track(1).SegmentKind[0], quint8(TextSegment));
}

void TestTemplate::addOfAnotherKindKeepsExcelParameters()
{
    FakeCells cells = numberedColumn(2);
    TemplateSet set;
    QCOMPARE(set.add(3, 1, excelAdd(7, 2, 0), true, cells), AddOutcome::Done);
    AddRequest counter;
    counter.kindItem = 2;
    counter.counterStart = 9;
    counter.counterStep = 3;
    set.add(3, 1, counter, true, cells);
    const TrackTemplate& t = set.track(3);
    QCOMPARE(t.slotText[1], u"9-3"_s);
    QCOMPARE(t.SegmentKind[1], quint8(FallingCounterSegment));
    QCOMPARE(t.ExcelDirection[1], quint8(ExcelRowRises));
    QCOMPARE(t.ExcelColumn[1], 2);
    QCOMPARE(t.ExcelRow[1], 7);
    QCOMPARE(t.ExcelStep[1], 2);
}

void TestTemplate::everyAddSetsDigitCount_data()
{
    QTest::addColumn<int>("kindItem");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("outcome");
    QTest::newRow("text") << 0 << false << int(AddOutcome::Done);
    QTest::newRow("rising") << 1 << false << int(AddOutcome::Done);
    QTest::newRow("falling") << 2 << false << int(AddOutcome::Done);
    QTest::newRow("Excel refused") << 3 << false << int(AddOutcome::NotConnected);
    QTest::newRow("no item") << -1 << false << int(AddOutcome::Done);
}

void TestTemplate::everyAddSetsDigitCount()
{
    QFETCH(int, kindItem);
    QFETCH(bool, connected);
    QFETCH(int, outcome);
    FakeCells cells;
    TemplateSet set;
    set.track(2).slotText[3] = u"keep"_s;
    AddRequest request = textAdd(u"new"_s, 7);
    request.kindItem = kindItem;
    QCOMPARE(int(set.add(2, 3, request, connected, cells)), outcome);
    QCOMPARE(set.track(2).DigitCount, 7);
    QCOMPARE(set.track(1).DigitCount, 0);
    if (kindItem == 3 || kindItem == -1)
        QCOMPARE(set.track(2).slotText[3], u"keep"_s);
    QVERIFY(cells.reads.isEmpty());
}

void TestTemplate::remainingCapacity_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<QStringList>("slots");
    QTest::addColumn<int>("remaining");
    QTest::newRow("empty track 1") << 1 << QStringList() << 79;
    QTest::newRow("empty track 3") << 3 << QStringList() << 107;
    QTest::newRow("text and counter") << 2 << QStringList{u"123"_s, u"100+1"_s} << 32;
    QTest::newRow("over by one") << 2 << QStringList{QString(20, u'1'), QString(21, u'2')} << -1;
}

void TestTemplate::remainingCapacity()
{
    QFETCH(int, track);
    QFETCH(QStringList, slots);
    QFETCH(int, remaining);
    FakeCells cells;
    TemplateSet set;
    for (int slot = 0; slot < slots.size(); ++slot)
        set.add(track, slot * 3, textAdd(slots[slot], 9), false, cells);
    QCOMPARE(set.remainingCapacity(track), remaining);
}

void TestTemplate::excelPreview_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("directionItem");
    QTest::addColumn<int>("previewRow");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("direction");
    const int done = int(AddOutcome::Done);
    const int below = int(AddOutcome::RowBelowOne);
    QTest::newRow("rising, track 1") << 1 << 5 << 1 << 0 << 5 << done << 1;
    QTest::newRow("rising, track 2") << 2 << 5 << 1 << 0 << 5 << done << 1;
    QTest::newRow("rising, track 3") << 3 << 5 << 1 << 0 << 6 << done << 1;
    QTest::newRow("rising by 4, track 2") << 2 << 5 << 4 << 0 << 8 << done << 1;
    QTest::newRow("falling to 0: warning") << 1 << 1 << 1 << 1 << 1 << below << 0;
    QTest::newRow("falling step 0") << 3 << 10 << 0 << 1 << 10 << done << 0;
    QTest::newRow("falling by 3") << 2 << 10 << 3 << 1 << 7 << done << 0;
    QTest::newRow("falling to 1") << 2 << 4 << 3 << 1 << 1 << done << 0;
    QTest::newRow("no direction falls") << 3 << 9 << 2 << -1 << 7 << done << 0;
}

void TestTemplate::excelPreview()
{
    QFETCH(int, track);
    QFETCH(int, row);
    QFETCH(int, step);
    QFETCH(int, directionItem);
    QFETCH(int, previewRow);
    QFETCH(int, outcome);
    QFETCH(int, direction);
    FakeCells cells = numberedColumn(2);
    TemplateSet set;
    QCOMPARE(int(set.add(track, 6, excelAdd(row, step, directionItem), true, cells)), outcome);
    const TrackTemplate& t = set.track(track);
    QCOMPARE(t.slotText[6], u"r%1"_s.arg(previewRow));
    QCOMPARE(t.SegmentKind[6], quint8(ExcelSegment));
    QCOMPARE(int(t.ExcelDirection[6]), direction);
    QCOMPARE(t.ExcelColumn[6], 2);
    QCOMPARE(t.ExcelRow[6], row);
    QCOMPARE(t.ExcelStep[6], step);
    QCOMPARE(cells.reads.first(), qMakePair(row, 2));
    QCOMPARE(cells.reads.size(), outcome == int(AddOutcome::Done) ? 2 : 1);
}

void TestTemplate::excelPreviewKeepsFirstLine()
{
    FakeCells cells;
    cells.set(3, 1, u"top\nbottom"_s);
    TemplateSet set;
    set.add(3, 0, excelAdd(2, 1, 0, 1), true, cells);
    QCOMPARE(set.track(3).slotText[0], u"top"_s);
}

void TestTemplate::failingFirstReadLeavesSlotUnchanged()
{
    FakeCells cells = numberedColumn(2);
    cells.failAtRead = 0;
    TemplateSet set;
    set.track(1).slotText[2] = u"old"_s;
    AddRequest request = excelAdd(4, 1, 0);
    request.digitCount = 6;
    QVERIFY_THROWS_EXCEPTION(Failure, set.add(1, 2, request, true, cells));
    QCOMPARE(set.track(1).slotText[2], u"old"_s);
    QCOMPARE(set.track(1).SegmentKind[2], quint8(TextSegment));
    QCOMPARE(set.track(1).ExcelRow[2], 0);
    QCOMPARE(set.track(1).DigitCount, 6);
}

void TestTemplate::failingPreviewKeepsEnteredRow()
{
    // On tracks 1 and 2 a rising slot on row 1 with step 0 previews row 0, which no sheet has.
    FakeCells cells = numberedColumn(2);
    TemplateSet set;
    QVERIFY_THROWS_EXCEPTION(Failure, set.add(2, 5, excelAdd(1, 0, 0), true, cells));
    const TrackTemplate& t = set.track(2);
    QCOMPARE(t.slotText[5], u"r1"_s);
    QCOMPARE(t.SegmentKind[5], quint8(ExcelSegment));
    QCOMPARE(t.ExcelDirection[5], quint8(ExcelRowRises));
    QCOMPARE(t.ExcelRow[5], 1);
    QCOMPARE(t.ExcelStep[5], 0);
    QCOMPARE(cells.reads.last(), qMakePair(0, 2));
}

void TestTemplate::deleteEmptiesOnlyTheText()
{
    FakeCells cells = numberedColumn(2);
    TemplateSet set;
    set.add(2, 8, excelAdd(3, 1, 0), true, cells);
    AddRequest counter;
    counter.kindItem = 1;
    counter.counterStart = 4;
    counter.counterStep = 2;
    counter.digitCount = 3;
    set.add(2, 8, counter, true, cells);
    const TrackTemplate before = set.track(2);
    set.deleteSlot(2, 8);
    TrackTemplate expected = before;
    expected.slotText[8].clear();
    QCOMPARE(set.track(2), expected);
    QCOMPARE(set.track(2).SegmentKind[8], quint8(RisingCounterSegment));
}

void TestTemplate::columnLetter_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("letter");
    QTest::newRow("1") << 1 << u"A"_s;
    QTest::newRow("2") << 2 << u"B"_s;
    QTest::newRow("26") << 26 << u"Z"_s;
}

void TestTemplate::columnLetter()
{
    QFETCH(int, column);
    QFETCH(QString, letter);
    QCOMPARE(TemplateRules::columnLetter(column), letter);
}

void TestTemplate::textKeys_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("passes");
    QTest::newRow("never opened, ?") << 0 << 0x3F << true;
    QTest::newRow("track 1, a") << 1 << int('a') << true;
    QTest::newRow("track 1, ?") << 1 << 0x3F << true;
    for (int track = 2; track <= 3; ++track) {
        const QByteArray t = "track " + QByteArray::number(track);
        QTest::newRow(t + ", backspace") << track << 8 << true;
        QTest::newRow(t + ", 0") << track << 0x30 << true;
        QTest::newRow(t + ", >") << track << 0x3E << true;
        QTest::newRow(t + ", ?") << track << 0x3F << false;
        QTest::newRow(t + ", /") << track << 0x2F << false;
        QTest::newRow(t + ", A") << track << int('A') << false;
        QTest::newRow(t + ", space") << track << 0x20 << false;
        QTest::newRow(t + ", Cyrillic") << track << 0x410 << false;
    }
}

void TestTemplate::textKeys()
{
    QFETCH(int, track);
    QFETCH(int, code);
    QFETCH(bool, passes);
    QCOMPARE(TemplateRules::textKeyPasses(track, char16_t(code)), passes);
}

int runTemplateTests(int argc, char** argv)
{
    TestTemplate test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_template.moc"
