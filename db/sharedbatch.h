#pragma once

#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class PgConnection;

// A batch in the bureau's database, as a station and a publisher see it: every
// call sends its statement and returns at once; the answer comes to the callback
// from the event loop. Cards are numbered from 1 in the order they were published.
namespace SharedBatch {

struct Card
{
    int seq = 0;
    int row = 0; // the worksheet row it was composed from; 0 when none
    std::array<QString, 3> texts;
    int attempts = 0;     // outcomes recorded for it so far
    bool resumed = false; // this station's own card in flight, claimed before
};

struct Summary
{
    qint64 id = 0;
    QString name;
    int choice = 0;
    int size = 0;
    int written = 0;
    int inFlight = 0;
};

using Published = std::function<void(std::optional<qint64> id, const QString& error)>;
// A card, none when every card of the batch is written or held by another station, or an error.
using Claimed = std::function<void(std::optional<Card> card, const QString& error)>;
// The card's state after the outcome ("written", "inflight"), or an error.
using Recorded = std::function<void(const QString& state, const QString& error)>;
using Listed = std::function<void(const QList<Summary>& batches, const QString& error)>;

// The cards as one batch, in one transaction: all of them or none.
void publish(PgConnection& db, const QString& name, int choice, const QList<Card>& cards, Published done);
// The next card for this station: its own card in flight first.
void claim(PgConnection& db, qint64 batch, Claimed done);
// The terminal's verdict on one attempt at a card this station holds. Sending
// the same attempt again (its reply was lost) is harmless.
void record(PgConnection& db, qint64 batch, int seq, int attempt, bool written, const QString& note, Recorded done);
// A publisher's: a card in flight goes back to the batch for any station.
void handBack(PgConnection& db, qint64 batch, int seq, std::function<void(bool handedBack, const QString& error)> done);
void list(PgConnection& db, Listed done);

// A text in COPY's text format: backslash, tab, line feed and carriage return escaped.
QByteArray copyField(const QString& text);

} // namespace SharedBatch
