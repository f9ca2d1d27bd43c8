#include "db/batchquery.h"

#include "db/pgconnection.h"
#include "writing/csvfield.h"

#include <QMap>

#include <libpq-fe.h>

namespace BatchQuery {

namespace {

CardRow cardFrom(const QStringList& row)
{
    return {row.value(0).toInt(), row.value(1).toInt(), row.value(2),
            row.value(3),         row.value(4).toInt(), {row.value(5), row.value(6), row.value(7)}};
}

} // namespace

void load(PgConnection& db, qint64 batch, Loaded done)
{
    const QString id = QString::number(batch);
    db.prepared("view_batch", "SELECT name, choice FROM stripewell.batch WHERE id = $1", {id},
                [&db, batch, id, done](const PgResult& head) {
                    if (!head.ok)
                        return done({}, head.error);
                    if (head.rows.isEmpty())
                        return done({}, QStringLiteral("В базе нет партии %1.").arg(batch));
                    Snapshot snapshot{batch, head.rows[0].value(0), head.rows[0].value(1).toInt(), {}, 0, 0, 0, {}};
                    db.prepared("view_cards",
                                "SELECT seq, source_row, state, coalesce(station, ''), attempts, t1, t2, t3"
                                " FROM stripewell.card WHERE batch_id = $1 ORDER BY seq",
                                {id}, [snapshot, done](const PgResult& cards) mutable {
                                    if (!cards.ok)
                                        return done({}, cards.error);
                                    snapshot.cards.reserve(cards.rows.size());
                                    for (const QStringList& row : cards.rows)
                                        snapshot.cards.append(cardFrom(row));
                                    tally(snapshot);
                                    done(snapshot, {});
                                });
                });
}

void update(PgConnection& db, Snapshot batch, Loaded done)
{
    db.prepared("view_states",
                "SELECT seq, state, coalesce(station, ''), attempts FROM stripewell.card WHERE batch_id = $1"
                " ORDER BY seq",
                {QString::number(batch.id)}, [&db, batch, done](const PgResult& r) mutable {
                    if (!r.ok)
                        return done({}, r.error);
                    if (r.rows.size() != batch.cards.size())
                        return load(db, batch.id, done); // not the batch read before: read it whole
                    for (qsizetype i = 0; i < r.rows.size(); ++i) {
                        const QStringList& row = r.rows[i];
                        CardRow& card = batch.cards[i];
                        if (row.value(0).toInt() != card.seq)
                            return load(db, batch.id, done);
                        card.state = row.value(1);
                        card.station = row.value(2);
                        card.attempts = row.value(3).toInt();
                    }
                    tally(batch);
                    done(batch, {});
                });
}

void tally(Snapshot& batch)
{
    batch.written = batch.inFlight = batch.free = 0;
    QMap<QString, StationCount> byStation;
    for (const CardRow& card : batch.cards) {
        const bool written = card.state == QLatin1String("written");
        const bool inFlight = card.state == QLatin1String("inflight");
        batch.written += written;
        batch.inFlight += inFlight;
        batch.free += !written && !inFlight;
        if (card.station.isEmpty() || (!written && !inFlight))
            continue;
        StationCount& count = byStation[card.station];
        count.station = card.station;
        count.written += written;
        count.inFlight += inFlight;
    }
    batch.stations = byStation.values();
}

QString stateText(const CardRow& card)
{
    if (card.state == QLatin1String("written"))
        return QStringLiteral("записана");
    if (card.state == QLatin1String("inflight"))
        return QStringLiteral("в работе (%1)").arg(card.station);
    return QStringLiteral("не выдана");
}

QString countsText(const Snapshot& batch)
{
    QStringList holders;
    for (const StationCount& count : batch.stations)
        if (count.inFlight > 0)
            holders << QStringLiteral("%1: %2").arg(count.station).arg(count.inFlight);
    QString inFlight = QString::number(batch.inFlight);
    if (!holders.isEmpty())
        inFlight += QStringLiteral(" (") + holders.join(QStringLiteral(", ")) + QLatin1Char(')');
    return QStringLiteral("Записано: %1 · в работе: %2 · не выдано: %3 · всего: %4")
        .arg(batch.written)
        .arg(inFlight)
        .arg(batch.free)
        .arg(batch.cards.size());
}

QStringList headers()
{
    return {QStringLiteral("Карточка"),  QStringLiteral("Строка"),   QStringLiteral("Состояние"),
            QStringLiteral("Станция"),   QStringLiteral("Попыток"),  QStringLiteral("Дорожка 1"),
            QStringLiteral("Дорожка 2"), QStringLiteral("Дорожка 3")};
}

QStringList fields(const CardRow& card)
{
    return {QString::number(card.seq),
            card.row > 0 ? QString::number(card.row) : QString(),
            stateText(card),
            card.station,
            QString::number(card.attempts),
            card.texts[0],
            card.texts[1],
            card.texts[2]};
}

QByteArray csv(const Snapshot& batch)
{
    QByteArray out;
    const auto line = [&out](const QStringList& values) {
        QStringList encoded;
        for (const QString& field : values)
            encoded << CsvField::encode(field);
        out += encoded.join(QLatin1Char(',')).toUtf8() + "\r\n";
    };
    line(headers());
    for (const CardRow& card : batch.cards)
        line(fields(card));
    return out;
}

QString connectionRefusal(const QString& connection)
{
    if (connection.trimmed().isEmpty())
        return QStringLiteral("Укажите подключение к базе: строку подключения libpq или service=ИМЯ.");
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.toUtf8().constData(), &error);
    if (!options) {
        const QString why = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("нет памяти");
        PQfreemem(error);
        return QStringLiteral("Строка подключения не читается: %1").arg(why);
    }
    bool password = false;
    for (const PQconninfoOption* option = options; option->keyword; ++option)
        password = password || (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val);
    PQconninfoFree(options);
    if (password)
        return QStringLiteral("Пароль в строке подключения не хранится: укажите его в ~/.pgpass или в файле "
                              "PGPASSFILE.");
    return {};
}

} // namespace BatchQuery
