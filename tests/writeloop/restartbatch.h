#pragma once

// The batch the restart tests run: text, worksheet columns and counters on all
// three tracks, over a worksheet of numbered cards, and the cards it gives.

#include "excel/texcelapplication.h"
#include "writing/composetracktext.h"
#include "writing/job.h"

#include <QFile>
#include <QList>

namespace RestartBatch {

inline QByteArray workbook(int rows)
{
    QByteArray csv = "Name;Code\r\n";
    for (int row = 1; row <= rows; ++row)
        csv += "CARD" + QByteArray::number(row) + ';' + QByteArray::number(row * 7) + "\r\n";
    return csv;
}

inline Job job(int choice)
{
    using namespace Qt::StringLiterals;
    Job job;
    TrackTemplate& t1 = job.templates.track(1);
    t1.DigitCount = 1;
    t1.slotText[0] = u"B"_s;
    t1.SegmentKind[1] = ExcelSegment;
    t1.slotText[1] = u"Name"_s;
    t1.ExcelColumn[1] = 1;
    t1.ExcelRow[1] = 1;
    t1.ExcelStep[1] = 1;
    t1.ExcelDirection[1] = ExcelRowRises;
    TrackTemplate& t2 = job.templates.track(2);
    t2.DigitCount = 4;
    t2.SegmentKind[0] = RisingCounterSegment;
    t2.slotText[0] = u"1000+1"_s;
    t2.slotText[1] = u"="_s;
    t2.SegmentKind[2] = ExcelSegment;
    t2.slotText[2] = u"Code"_s;
    t2.ExcelColumn[2] = 2;
    t2.ExcelRow[2] = 1;
    t2.ExcelStep[2] = 1;
    t2.ExcelDirection[2] = ExcelRowRises;
    TrackTemplate& t3 = job.templates.track(3);
    t3.DigitCount = 4;
    t3.SegmentKind[0] = FallingCounterSegment;
    t3.slotText[0] = u"9000-3"_s;
    job.workbook = u"cards.csv"_s;
    job.trackChoice = choice;
    return job;
}

// The cards the templates give, in order, as the simulator lists them ("T1|T2|T3").
inline QList<QByteArray> sequence(TemplateSet templates, int choice, const QString& book, int count)
{
    TExcelApplication excel;
    excel.openWorkbook(book);
    QList<QByteArray> cards;
    for (int i = 0; i < count; ++i) {
        const ComposedCard card = composeCard(templates, tracksOfChoice(choice), excel);
        cards << (card.texts.track1 + u'|' + card.texts.track2 + u'|' + card.texts.track3).toLatin1();
        templates = card.advanced;
    }
    return cards;
}

// The cards the simulator encoded, one a line.
inline QList<QByteArray> encoded(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace RestartBatch
