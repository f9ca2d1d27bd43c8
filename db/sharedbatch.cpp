#include "db/sharedbatch.h"

#include "db/pgconnection.h"

namespace SharedBatch {

QByteArray copyField(const QString& text)
{
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

QByteArray copyRows(qint64 batch, const QList<Card>& cards)
{
    QByteArray data;
    const QByteArray id = QByteArray::number(batch);
    for (const Card& card : cards) {
        data += id + '\t' + QByteArray::number(card.seq) + '\t' + QByteArray::number(card.row);
        for (const QString& text : card.texts)
            data += '\t' + copyField(text);
        data += '\n';
    }
    return data;
}

// Ends the transaction and says how the publish went.
void finish(PgConnection& db, const PgResult& failed, const Published& done)
{
    if (failed.connectionLost)
        return done(std::nullopt, failed.error); // the server ends a transaction whose connection went
    db.plain("ROLLBACK", [done, error = failed.error](const PgResult&) { done(std::nullopt, error); });
}

} // namespace

void publish(PgConnection& db, const QString& name, int choice, const QList<Card>& cards, Published done)
{
    // Each step goes out only when the one before it succeeded, so a failure
    // never meets a COMMIT that the server would turn into a silent rollback.
    db.plain("BEGIN", [&db, name, choice, cards, done](const PgResult& begun) {
        if (!begun.ok)
            return done(std::nullopt, begun.error);
        db.prepared(
            "publish_batch", "INSERT INTO stripewell.batch (name, choice, size) VALUES ($1, $2, $3) RETURNING id",
            {name, QString::number(choice), QString::number(cards.size())},
            [&db, cards, done](const PgResult& inserted) {
                if (!inserted.ok)
                    return finish(db, inserted, done);
                const qint64 id = inserted.rows.value(0).value(0).toLongLong();
                db.copyIn("COPY stripewell.card (batch_id, seq, source_row, t1, t2, t3) FROM STDIN",
                          copyRows(id, cards), [&db, id, done](const PgResult& copied) {
                              if (!copied.ok)
                                  return finish(db, copied, done);
                              db.plain("NOTIFY stripewell_batch; COMMIT", [id, done](const PgResult& committed) {
                                  if (!committed.ok)
                                      return done(std::nullopt, committed.error);
                                  done(id, {});
                              });
                          });
            });
    });
}

void claim(PgConnection& db, qint64 batch, Claimed done)
{
    db.prepared("claim_card", "SELECT * FROM stripewell.claim_card($1)", {QString::number(batch)},
                [done](const PgResult& r) {
                    if (!r.ok)
                        return done(std::nullopt, r.error);
                    if (r.rows.isEmpty())
                        return done(std::nullopt, {});
                    const QStringList& row = r.rows.first();
                    Card card;
                    card.seq = row.value(0).toInt();
                    card.row = row.value(1).toInt();
                    card.texts = {row.value(2), row.value(3), row.value(4)};
                    card.attempts = row.value(5).toInt();
                    card.resumed = row.value(6) == QLatin1String("t");
                    done(card, {});
                });
}

void record(PgConnection& db, qint64 batch, int seq, int attempt, bool written, const QString& note, Recorded done)
{
    db.prepared(
        "record_outcome", "SELECT stripewell.record_outcome($1, $2, $3, $4, $5)",
        {QString::number(batch), QString::number(seq), QString::number(attempt),
         written ? QStringLiteral("true") : QStringLiteral("false"), note.isNull() ? QStringLiteral("") : note},
        [done](const PgResult& r) { done(r.ok ? r.rows.value(0).value(0) : QString(), r.ok ? QString() : r.error); });
}

void handBack(PgConnection& db, qint64 batch, int seq, std::function<void(bool, const QString&)> done)
{
    db.prepared("hand_back", "SELECT stripewell.hand_back($1, $2)", {QString::number(batch), QString::number(seq)},
                [done](const PgResult& r) { done(r.ok && r.rows.value(0).value(0) == QLatin1String("t"), r.error); });
}

void list(PgConnection& db, Listed done)
{
    db.prepared("list_batches",
                "SELECT b.id, b.name, b.choice, b.size,"
                " count(*) FILTER (WHERE c.state = 'written'), count(*) FILTER (WHERE c.state = 'inflight')"
                " FROM stripewell.batch b LEFT JOIN stripewell.card c ON c.batch_id = b.id"
                " GROUP BY b.id ORDER BY b.id",
                {}, [done](const PgResult& r) {
                    QList<Summary> batches;
                    for (const QStringList& row : r.rows)
                        batches.append({row.value(0).toLongLong(), row.value(1), row.value(2).toInt(),
                                        row.value(3).toInt(), row.value(4).toInt(), row.value(5).toInt()});
                    done(batches, r.ok ? QString() : r.error);
                });
}

} // namespace SharedBatch
