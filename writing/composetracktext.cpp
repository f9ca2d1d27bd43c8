#include "writing/composetracktext.h"

#include "base/error.h"
#include "excel/cellsource.h"
#include "link/commandset.h"
#include "link/tracks_write.h"

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 Int32Max = std::numeric_limits<qint32>::max();

qint32 toInteger(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        throw Failure(QStringLiteral("'%1' is not a valid integer value.").arg(text));
    return value;
}

[[noreturn]] void counterOverflow(int track)
{
    throw Failure(QStringLiteral("Счётчик дорожки %1 превысил 2147483647").arg(track));
}

// A counter slot reads value, sign, step; the sign in the text decides the direction.
QString advanceCounter(QString& slotText, int track, int digits)
{
    qsizetype signAt = 0;
    while (signAt < slotText.size() && slotText[signAt] != QLatin1Char('+') && slotText[signAt] != QLatin1Char('-'))
        ++signAt;
    if (signAt == slotText.size())
        return {};
    const QString valueText = slotText.left(signAt);
    const QString stepText = slotText.mid(signAt + 1);
    const QChar sign = slotText[signAt];
    const qint64 value = toInteger(valueText);
    const qint64 step = toInteger(stepText);
    const qint64 next = sign == QLatin1Char('+') ? value + step : value - step;
    if (next > Int32Max)
        counterOverflow(track);
    if (sign == QLatin1Char('-') && next < 0)
        slotText = QStringLiteral("0-0");
    else
        slotText = QString::number(next) + sign + stepText;
    return fillToDigits(valueText, digits);
}

QString cellName(int row, int column)
{
    return TemplateRules::columnLetter(column) + QString::number(row);
}

// The text of the cell a worksheet slot reads for this card. An empty cell is the
// end of the data: a card made of it would carry zeros, so it is refused.
QString readSlotCell(int row, int column, int track, CellSource& cells, bool forStripe)
{
    if (!forStripe)
        return cells.ReadCellText(row, column);
    QString text;
    try {
        text = cells.ReadCellText(row, column);
    } catch (const Failure& failure) {
        throw Refusal(QStringLiteral("Карточка не отправлена: ячейка %1 не читается. %2")
                          .arg(cellName(row, column), failure.text()));
    }
    if (text.isEmpty())
        throw Refusal(QStringLiteral("Карточка не отправлена: ячейка %1 пуста, данные для дорожки %2 кончились.")
                          .arg(cellName(row, column))
                          .arg(track));
    return text;
}

QString advanceExcelSlot(TrackTemplate& t, int slot, int track, int digits, CellSource& cells, bool forStripe)
{
    qint64 row = t.ExcelRow[slot];
    const qint64 step = t.ExcelStep[slot];
    if (t.ExcelDirection[slot] == ExcelRowRises) {
        row += step;
        if (row > Int32Max)
            throw Failure(QStringLiteral("Строка Excel дорожки %1 превысила 2147483647").arg(track));
    } else {
        row = row - step <= 1 ? 1 : row - step;
    }
    t.ExcelRow[slot] = qint32(row);
    t.slotText[slot] = TemplateRules::firstLine(readSlotCell(int(row), t.ExcelColumn[slot], track, cells, forStripe));
    const QString output = fillToDigits(t.slotText[slot], digits);
    const QString problem =
        forStripe ? Tracks_Write::characterProblem(track, Tracks_Write::asTrackTakes(track, output)) : QString();
    if (!problem.isEmpty())
        throw Refusal(QStringLiteral("Карточка не отправлена: %1 (ячейка %2).")
                          .arg(problem, cellName(int(row), t.ExcelColumn[slot])));
    return output;
}

} // namespace

QString fillToDigits(const QString& text, int digits)
{
    if (text.size() >= digits)
        return text;
    return QString(digits - text.size(), QLatin1Char('0')) + text;
}

TrackText ComposeTrackText(TemplateSet& templates, int track, CellSource& cells, bool forStripe)
{
    TrackTemplate& t = templates.track(track);
    TrackText out;
    out.digitCount = std::clamp(int(t.DigitCount), 1, 10);
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (t.slotText[slot].isEmpty())
            continue;
        switch (t.SegmentKind[slot]) {
        case RisingCounterSegment:
        case FallingCounterSegment:
            out.text += advanceCounter(t.slotText[slot], track, out.digitCount);
            break;
        case ExcelSegment:
            out.text += advanceExcelSlot(t, slot, track, out.digitCount, cells, forStripe);
            break;
        default: {
            const QString& text = t.slotText[slot];
            const QString problem =
                forStripe ? Tracks_Write::characterProblem(track, Tracks_Write::asTrackTakes(track, text)) : QString();
            if (!problem.isEmpty())
                throw Refusal(QStringLiteral("Карточка не отправлена: %1 (слот %2).").arg(problem).arg(slot + 1));
            out.text += text;
            break;
        }
        }
    }
    // Track 1's field on the write tab is an upper-case field; the text is
    // given to it as that field would hold it.
    out.text = Tracks_Write::asTrackTakes(track, out.text);
    return out;
}

ComposedCard composeCard(const TemplateSet& committed, const QList<int>& tracks, CellSource& cells, bool forStripe)
{
    ComposedCard card{{}, committed, 1};
    for (const int track : tracks) {
        const TrackText composed = ComposeTrackText(card.advanced, track, cells, forStripe);
        card.texts.track(track) = composed.text;
        card.digitCount = composed.digitCount;
    }
    return card;
}

QList<int> tracksOfChoice(int choice)
{
    QList<int> tracks;
    for (int track = 1; track <= 3; ++track) {
        if (CommandSet::choiceCarries(choice, track))
            tracks.append(track);
    }
    return tracks;
}
