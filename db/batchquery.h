#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

class PgConnection;

// One shared batch as its view shows it: every card with its state and the
// station holding (or having written) it, and the counts by station. Read with
// the rights of either role; nothing here changes the batch.
namespace BatchQuery {

struct CardRow
{
    int seq = 0;
    int row = 0;
    QString state;   // "free", "inflight" or "written", as the database says it
    QString station; // who holds it in flight or wrote it; empty for a free card
    int attempts = 0;
    std::array<QString, 3> texts;
};

struct StationCount
{
    QString station;
    int inFlight = 0;
    int written = 0;
};

struct Snapshot
{
    qint64 id = 0;
    QString name;
    int choice = 0;
    QList<CardRow> cards; // in their order in the batch
    int written = 0;
    int inFlight = 0;
    int free = 0;
    QList<StationCount> stations; // by name
};

using Loaded = std::function<void(const Snapshot& batch, const QString& error)>;

// The batch and its cards as they stand; an unknown batch is an error.
void load(PgConnection& db, qint64 batch, Loaded done);
// The states of a batch read before, read again: a published card's row and
// texts never change, so only its state, station and attempts travel.
void update(PgConnection& db, Snapshot batch, Loaded done);

// The counts of a snapshot's cards, overall and by station.
void tally(Snapshot& batch);

// A card's state for the operator: "записана", "в работе (desk1)", "не выдана".
QString stateText(const CardRow& card);
// The columns of the cards' list, and one card's line in it.
QStringList headers();
QStringList fields(const CardRow& card);
// The counts in one line: written, in flight by station, not yet taken.
QString countsText(const Snapshot& batch);
// The cards as CSV (UTF-8, CR LF, a header line), every field in the journal's
// encoding, so no text opens in a spreadsheet as a formula.
QByteArray csv(const Snapshot& batch);

// Why a connection string may not be used by a window that remembers it: a
// password in it (it belongs in ~/.pgpass or PGPASSFILE), or a string libpq
// cannot read. Empty when it may be used.
QString connectionRefusal(const QString& connection);

} // namespace BatchQuery
