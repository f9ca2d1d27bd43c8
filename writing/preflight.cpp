#include "writing/preflight.h"

#include "base/error.h"
#include "excel/cellsource.h"
#include "link/tracks_write.h"
#include "writing/composetracktext.h"

#include <QHash>

#include <algorithm>
#include <limits>
#include <vector>

namespace Preflight {

bool stopsRun(Problem kind)
{
    switch (kind) {
    case Problem::Duplicate:
    case Problem::AlreadyWritten:
    case Problem::CounterWidens:
    case Problem::EndOfData:
        return false;
    default:
        return true;
    }
}

QList<Issue> Result::stops() const
{
    QList<Issue> out;
    for (const Issue& issue : problems)
        if (stopsRun(issue.kind))
            out.append(issue);
    if (end && end->kind == Problem::Unreadable)
        out.append(*end);
    return out;
}

QList<Issue> Result::warnings() const
{
    QList<Issue> out;
    for (const Issue& issue : problems)
        if (!stopsRun(issue.kind))
            out.append(issue);
    return out;
}

int Result::cardsBeforeFirstStop() const
{
    int first = int(cards.size()) + 1;
    for (const Issue& issue : problems)
        if (stopsRun(issue.kind)) {
            first = issue.card;
            break;
        }
    if (end && end->kind == Problem::Unreadable)
        first = std::min(first, end->card);
    return first - 1;
}

bool Result::clean() const
{
    return problems.isEmpty() && (!end || end->kind == Problem::EndOfData);
}

QString endOfDataMessage(int row, int cards)
{
    const int tens = cards % 100;
    const int ones = cards % 10;
    const QString word = tens >= 11 && tens <= 14 ? QStringLiteral("карточек")
                         : ones == 1              ? QStringLiteral("карточка")
                         : ones >= 2 && ones <= 4 ? QStringLiteral("карточки")
                                                  : QStringLiteral("карточек");
    return QStringLiteral("Данные кончаются на строке %1: в партии %2 %3.").arg(row).arg(cards).arg(word);
}

namespace {

// A cell a worksheet slot of the card reads, in the order composing reads them.
struct PlannedRead
{
    int track;
    int row;
    int column;
};

QString cellName(int row, int column)
{
    return TemplateRules::columnLetter(column) + QString::number(row);
}

// The cells the next card reads: each used worksheet slot's row moved by its step.
std::vector<PlannedRead> planReads(const TemplateSet& set, const QList<int>& tracks)
{
    std::vector<PlannedRead> reads;
    for (const int track : tracks) {
        const TrackTemplate& t = set.track(track);
        for (int slot = 0; slot < SlotCount; ++slot) {
            if (t.slotText[slot].isEmpty() || t.SegmentKind[slot] != ExcelSegment)
                continue;
            const qint64 step = t.ExcelStep[slot];
            qint64 row = t.ExcelRow[slot];
            if (t.ExcelDirection[slot] == ExcelRowRises)
                row = std::min<qint64>(row + step, std::numeric_limits<qint32>::max());
            else
                row = row - step <= 1 ? 1 : row - step;
            reads.push_back({track, int(row), t.ExcelColumn[slot]});
        }
    }
    return reads;
}

// The worksheet as composing reads it, keeping what each read of one card gave.
class RecordingCells : public CellSource
{
public:
    explicit RecordingCells(CellSource& cells) : m_cells(cells) {}

    QString ReadCellText(int row, int column) override
    {
        m_failed = true;
        QString text = m_cells.ReadCellText(row, column);
        m_failed = false;
        m_texts.push_back(text);
        return text;
    }
    void clear()
    {
        m_texts.clear();
        m_failed = false;
    }
    const std::vector<QString>& texts() const { return m_texts; }
    bool failed() const { return m_failed; }
    // The first read that gave an empty text, or -1.
    qsizetype firstEmpty() const
    {
        const auto it = std::find_if(m_texts.begin(), m_texts.end(), [](const QString& t) { return t.isEmpty(); });
        return it == m_texts.end() ? -1 : qsizetype(it - m_texts.begin());
    }

private:
    CellSource& m_cells;
    std::vector<QString> m_texts;
    bool m_failed = false;
};

// A card's three texts as one key, unambiguous whatever they hold.
QString textsKey(const std::array<QString, 3>& texts)
{
    QString key;
    key.reserve(texts[0].size() + texts[1].size() + texts[2].size() + 12);
    for (const QString& text : texts)
        key += QString::number(text.size()) + QLatin1Char(':') + text;
    return key;
}

// The run's own refusal, told of a card not yet sent: without "Карточка не
// отправлена", and without the cell the question already names.
QString aheadOfTheRun(QString message, const QString& cell)
{
    static const QString Sent = QStringLiteral("Карточка не отправлена: ");
    if (!message.startsWith(Sent))
        return message;
    message.remove(0, Sent.size());
    if (!cell.isEmpty())
        message.replace(QStringLiteral(" (ячейка %1).").arg(cell), QStringLiteral("."));
    if (!message.isEmpty())
        message[0] = message[0].toUpper();
    return message;
}

class Batch
{
public:
    Batch(const Input& input, CellSource& cells) : m_input(input), m_set(input.templates), m_cells(cells)
    {
        m_tracks = tracksOfChoice(input.choice);
        m_widths.fill({});
        for (auto& track : m_widths)
            track.fill(-1);
        m_fixedText = fixedTextOnly();
    }

    bool readsWorksheet() const { return !planReads(m_set, m_tracks).empty(); }
    // Every slot of the carried tracks is fixed text: the cards are meant to be the same.
    bool fixedTextOnly() const;
    int expected() const;
    // Composes and checks the next card; false when the batch ended before it.
    bool next();
    Result& result() { return m_result; }

private:
    struct Composed
    {
        std::array<QString, 3> texts;
        QString refusal; // the write loop's refusal of the card, if any
    };
    std::optional<Composed> compose(int number, const std::vector<PlannedRead>& reads);
    void endAt(Problem kind, int number, const std::vector<PlannedRead>& reads, const QString& message);
    void checkCard(int number, const std::vector<PlannedRead>& reads, const Composed& card);
    void addRefusal(int number, const std::vector<PlannedRead>& reads, const Composed& card);
    QList<Issue> counterIssues(int number, int row);
    void add(Problem kind, int number, int row, const QString& cell, const QString& message)
    {
        m_result.problems.append({kind, number, row, cell, aheadOfTheRun(message, cell)});
    }

    const Input& m_input;
    TemplateSet m_set;
    RecordingCells m_cells;
    QList<int> m_tracks;
    std::array<std::array<int, SlotCount>, TrackCount> m_widths; // each counter's output width on the card before
    QHash<QString, int> m_seen;                                  // texts key -> first card with them
    bool m_fixedText = false;
    Result m_result;
};

bool Batch::fixedTextOnly() const
{
    for (const int track : m_tracks) {
        const TrackTemplate& t = m_set.track(track);
        for (int slot = 0; slot < SlotCount; ++slot)
            if (!t.slotText[slot].isEmpty() && t.SegmentKind[slot] != TextSegment)
                return false;
    }
    return true;
}

int Batch::expected() const
{
    if (m_input.size > 0)
        return m_input.size;
    const std::vector<PlannedRead> reads = planReads(m_set, m_tracks);
    if (reads.empty())
        return CardsWithoutSize;
    if (m_input.lastRow <= 0)
        return 0;
    // The first slot that rises: rows from its next one to the sheet's last, by its step.
    for (const int track : m_tracks) {
        const TrackTemplate& t = m_set.track(track);
        for (int slot = 0; slot < SlotCount; ++slot) {
            if (t.slotText[slot].isEmpty() || t.SegmentKind[slot] != ExcelSegment ||
                t.ExcelDirection[slot] != ExcelRowRises || t.ExcelStep[slot] <= 0)
                continue;
            const std::int64_t rows = (m_input.lastRow - t.ExcelRow[slot]) / t.ExcelStep[slot];
            return int(std::clamp<std::int64_t>(rows, 0, MostCards));
        }
    }
    return 0;
}

bool Batch::next()
{
    const int number = int(m_result.cards.size()) + 1;
    const std::vector<PlannedRead> reads = planReads(m_set, m_tracks);
    const QList<Issue> counters = counterIssues(number, reads.empty() ? 0 : reads.front().row);
    const std::optional<Composed> card = compose(number, reads);
    if (!card)
        return false;
    m_result.cards.append({reads.empty() ? 0 : reads.front().row, card->texts});
    checkCard(number, reads, *card);
    m_result.problems.append(counters);
    return true;
}

// The card as the write loop composes it for the stripe. A card it would refuse
// for a character is composed again as it stands, so the batch goes on past it.
std::optional<Batch::Composed> Batch::compose(int number, const std::vector<PlannedRead>& reads)
{
    Composed out;
    ComposedCard card;
    m_cells.clear();
    try {
        try {
            card = composeCard(m_set, m_tracks, m_cells, true);
        } catch (const Refusal& refusal) {
            if (m_cells.failed() || m_cells.firstEmpty() >= 0) {
                endAt(m_cells.failed() ? Problem::Unreadable : Problem::EndOfData, number, reads, refusal.text());
                return std::nullopt;
            }
            out.refusal = refusal.text();
            m_cells.clear();
            card = composeCard(m_set, m_tracks, m_cells, false);
            if (m_cells.firstEmpty() >= 0) {
                // A cell after the refused one is empty: the data ends here all the same.
                endAt(Problem::EndOfData, number, reads, {});
                return std::nullopt;
            }
        }
    } catch (const Failure& failure) {
        endAt(Problem::Unreadable, number, reads, failure.text());
        return std::nullopt;
    }
    m_set = card.advanced;
    for (const int track : m_tracks)
        out.texts[std::size_t(track - 1)] = card.texts.track(track);
    return out;
}

// The cell to blame is the one whose read failed, else the first empty one;
// a counter that fails blames no cell.
void Batch::endAt(Problem kind, int number, const std::vector<PlannedRead>& reads, const QString& message)
{
    qsizetype at = -1;
    if (m_cells.failed())
        at = qsizetype(m_cells.texts().size());
    else if (m_cells.firstEmpty() >= 0)
        at = m_cells.firstEmpty();
    Issue issue{kind, number, reads.empty() ? 0 : reads.front().row, {}, message};
    if (at >= 0 && at < qsizetype(reads.size())) {
        issue.row = reads[std::size_t(at)].row;
        issue.cell = cellName(issue.row, reads[std::size_t(at)].column);
    }
    if (kind == Problem::EndOfData)
        issue.message = endOfDataMessage(issue.row, number - 1);
    m_result.end = issue;
}

// The checks of a card that the write loop makes before its frame, then those
// of the whole batch.
void Batch::checkCard(int number, const std::vector<PlannedRead>& reads, const Composed& card)
{
    const int row = reads.empty() ? 0 : reads.front().row;
    const QString firstCell = reads.empty() ? QString() : cellName(row, reads.front().column);
    if (!card.refusal.isEmpty())
        addRefusal(number, reads, card);
    for (const int track : m_tracks) {
        const qsizetype length = card.texts[std::size_t(track - 1)].size();
        if (length == 0)
            add(Problem::EmptyText, number, row, {},
                QStringLiteral("Текст дорожки %1 пуст: такая карточка не отправляется, запись будет ждать.")
                    .arg(track));
        if (length <= Tracks_Write::Capacity[track])
            continue;
        const auto own =
            std::find_if(reads.begin(), reads.end(), [track](const PlannedRead& r) { return r.track == track; });
        add(Problem::OverLong, number, own == reads.end() ? row : own->row,
            own == reads.end() ? QString() : cellName(own->row, own->column),
            QStringLiteral("Очень длинная строка: на дорожке %1 %2 знаков, дорожка вмещает %3.")
                .arg(track)
                .arg(length)
                .arg(Tracks_Write::Capacity[track]));
    }
    if (m_fixedText)
        return; // the same card again and again is what fixed text asks for
    const QString key = textsKey(card.texts);
    const auto seen = m_seen.constFind(key);
    if (seen == m_seen.constEnd()) {
        m_seen.insert(key, number);
    } else {
        const int earlier = *seen;
        const int earlierRow = m_result.cards[earlier - 1].row;
        add(Problem::Duplicate, number, row, firstCell,
            earlierRow > 0
                ? QStringLiteral("Тексты дорожек те же, что у карточки %1 (строка %2).").arg(earlier).arg(earlierRow)
                : QStringLiteral("Тексты дорожек те же, что у карточки %1.").arg(earlier));
    }
    if (m_input.alreadyWritten && m_input.alreadyWritten(card.texts[0], card.texts[1], card.texts[2]))
        add(Problem::AlreadyWritten, number, row, firstCell,
            QStringLiteral("Карточка с этими текстами дорожек уже записана: она есть в журнале."));
}

// The cell to blame is the last one read, when its text holds the character;
// otherwise a text slot does, and no cell is to blame.
void Batch::addRefusal(int number, const std::vector<PlannedRead>& reads, const Composed& card)
{
    const int row = reads.empty() ? 0 : reads.front().row;
    for (std::size_t i = 0; i < m_cells.texts().size() && i < reads.size(); ++i) {
        const PlannedRead& read = reads[i];
        QString text = TemplateRules::firstLine(m_cells.texts()[i]);
        if (read.track == 1)
            text = text.toUpper();
        if (!Tracks_Write::characterProblem(read.track, text).isEmpty()) {
            add(Problem::Character, number, read.row, cellName(read.row, read.column), card.refusal);
            return;
        }
    }
    add(Problem::Character, number, row, {}, card.refusal);
}

// A counter slot whose output is wider than on the card before (and so wider
// than its digit count) makes this card's text longer than the earlier ones.
QList<Issue> Batch::counterIssues(int number, int row)
{
    QList<Issue> issues;
    for (const int track : m_tracks) {
        const TrackTemplate& t = m_set.track(track);
        const int digits = std::clamp(int(t.DigitCount), 1, 10);
        for (int slot = 0; slot < SlotCount; ++slot) {
            const QString& text = t.slotText[slot];
            if (text.isEmpty() ||
                (t.SegmentKind[slot] != RisingCounterSegment && t.SegmentKind[slot] != FallingCounterSegment))
                continue;
            qsizetype sign = 0;
            while (sign < text.size() && text[sign] != QLatin1Char('+') && text[sign] != QLatin1Char('-'))
                ++sign;
            if (sign == text.size())
                continue;
            const int width = std::max(int(sign), digits);
            int& before = m_widths[std::size_t(track - 1)][std::size_t(slot)];
            if (before >= 0 && width > before)
                issues.append({Problem::CounterWidens,
                               number,
                               row,
                               {},
                               QStringLiteral("Счётчик дорожки %1 (слот %2) дошёл до %3: больше %4 знаков, "
                                              "текст дорожки с этой карточки длиннее.")
                                   .arg(track)
                                   .arg(slot + 1)
                                   .arg(text.left(sign))
                                   .arg(before)});
            before = width;
        }
    }
    return issues;
}

} // namespace

bool readsWorksheet(const TemplateSet& templates, int choice)
{
    return !planReads(templates, tracksOfChoice(choice)).empty();
}

bool judgedWhole(const TemplateSet& templates, int choice, int size)
{
    return size > 0 || readsWorksheet(templates, choice);
}

Result run(const Input& input, CellSource& cells, const std::atomic_bool* cancel, const Progress& progress)
{
    Batch batch(input, cells);
    Result& result = batch.result();
    result.size = std::max(input.size, 0);
    const bool whole = judgedWhole(input.templates, input.choice, result.size);
    const int limit = result.size > 0 ? std::min(result.size, MostCards) : whole ? MostCards : CardsWithoutSize;
    const int expected = batch.expected();
    constexpr int ProgressEvery = 512;
    for (int done = 0; done < limit; ++done) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.cancelled = true;
            break;
        }
        if (progress && done % ProgressEvery == 0)
            progress(done, expected);
        if (!batch.next())
            break;
    }
    result.partial = !whole && !result.end;
    if (result.size > 0 && result.end && result.end->kind == Problem::EndOfData) {
        Issue shortOf = *result.end;
        shortOf.kind = Problem::ShortOfSize;
        shortOf.message = QStringLiteral("Данные кончаются на карточке %1 из %2.").arg(shortOf.card).arg(result.size);
        result.problems.append(shortOf);
    }
    if (progress)
        progress(int(result.cards.size()), expected);
    return std::move(result);
}

} // namespace Preflight
