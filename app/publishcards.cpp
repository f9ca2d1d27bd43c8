#include "app/publishcards.h"

namespace {

std::optional<QList<SharedBatch::Card>> refuse(QString* refusal, const QString& why)
{
    if (refusal)
        *refusal = why;
    return std::nullopt;
}

QString stopLine(const Preflight::Issue& issue)
{
    QString where;
    if (issue.row > 0)
        where = issue.cell.isEmpty() ? QStringLiteral(" (строка %1)").arg(issue.row)
                                     : QStringLiteral(" (строка %1, ячейка %2)").arg(issue.row).arg(issue.cell);
    return QStringLiteral("Партия не публикуется: карточка %1%2: %3").arg(issue.card).arg(where, issue.message);
}

} // namespace

std::optional<QList<SharedBatch::Card>> cardsToPublish(const Preflight::Result& result, QString* refusal)
{
    const QList<Preflight::Issue> stops = result.stops();
    if (!stops.isEmpty())
        return refuse(refusal, stopLine(stops.first()));
    if (result.partial)
        return refuse(refusal, QStringLiteral("Укажите «Карточек в партии»: у партии без размера нет конца."));
    if (result.cancelled)
        return refuse(refusal, QStringLiteral("Проверка партии прервана: публикуется только партия, проверенная "
                                              "целиком."));
    if (result.cards.isEmpty())
        return refuse(refusal, QStringLiteral("В партии нет карточек."));
    QList<SharedBatch::Card> cards;
    cards.reserve(result.cards.size());
    for (qsizetype i = 0; i < result.cards.size(); ++i)
        cards.append({int(i) + 1, result.cards[i].row, result.cards[i].texts});
    if (refusal)
        refusal->clear();
    return cards;
}
