#include "writing/tracktemplate.h"

#include "excel/cellsource.h"
#include "link/tracks_write.h"

int TemplateSet::capacity(int track)
{
    return Tracks_Write::Capacity[track];
}

int TemplateSet::remainingCapacity(int track) const
{
    int used = 0;
    for (const QString& text : this->track(track).slotText)
        used += int(text.size());
    return capacity(track) - used;
}

TrackTemplate& TemplateSet::track(int track)
{
    return m_tracks.at(std::size_t(track - 1));
}

const TrackTemplate& TemplateSet::track(int track) const
{
    return m_tracks.at(std::size_t(track - 1));
}

AddOutcome TemplateSet::add(int track, int slot, const AddRequest& request, bool connected, CellSource& cells)
{
    TrackTemplate& t = this->track(track);
    t.DigitCount = request.digitCount;
    QString& text = t.slotText.at(std::size_t(slot));
    switch (request.kindItem) {
    case 0:
        text = request.text;
        t.SegmentKind[slot] = TextSegment;
        break;
    case 1:
    case 2: {
        const bool rising = request.kindItem == 1;
        text = QString::number(request.counterStart) + (rising ? QLatin1Char('+') : QLatin1Char('-')) +
               QString::number(request.counterStep);
        t.SegmentKind[slot] = rising ? RisingCounterSegment : FallingCounterSegment;
        break;
    }
    case 3:
        if (!connected)
            return AddOutcome::NotConnected;
        return addExcel(track, slot, request, cells);
    default:
        break;
    }
    return AddOutcome::Done;
}

AddOutcome TemplateSet::addExcel(int track, int slot, const AddRequest& request, CellSource& cells)
{
    TrackTemplate& t = this->track(track);
    const int row = request.excelRow;
    const int column = request.excelColumn;
    const int step = request.excelStep;
    t.slotText[slot] = TemplateRules::firstLine(cells.ReadCellText(row, column));
    t.SegmentKind[slot] = ExcelSegment;
    const bool rising = request.excelDirectionItem == 0;
    t.ExcelDirection[slot] = rising ? ExcelRowRises : ExcelRowFalls;
    t.ExcelColumn[slot] = column;
    t.ExcelRow[slot] = row;
    t.ExcelStep[slot] = step;

    // The preview shows roughly what the first card gets; the tables keep the
    // row as entered, since the generator moves the row before each read.
    int previewRow = 0;
    if (rising) {
        previewRow = track == 3 ? row + step : row + step - 1;
    } else {
        if (row - step < 1)
            return AddOutcome::RowBelowOne;
        previewRow = row - step;
    }
    t.slotText[slot] = TemplateRules::firstLine(cells.ReadCellText(previewRow, column));
    return AddOutcome::Done;
}

void TemplateSet::deleteSlot(int track, int slot)
{
    this->track(track).slotText.at(std::size_t(slot)).clear();
}

namespace TemplateRules {

QString notConnectedMessage()
{
    return QStringLiteral("База даных не подключна");
}

QString rowBelowOneMessage()
{
    return QStringLiteral("Номер строки должен быть больше 0");
}

QString columnLetter(int column)
{
    return QString(QChar(char16_t(64 + column)));
}

bool textKeyPasses(int track, char16_t code)
{
    if (track == 0 || track == 1)
        return true;
    return code == 8 || (code >= 0x30 && code <= 0x3E);
}

QString firstLine(const QString& text)
{
    qsizetype end = 0;
    while (end < text.size() && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r'))
        ++end;
    if (end == text.size())
        return text;
    if (end == 0)
        return QStringLiteral(" ");
    return text.left(end);
}

} // namespace TemplateRules
