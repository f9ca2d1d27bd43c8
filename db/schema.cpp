#include "db/schema.h"

#include "db/pgconnection.h"

#include <QList>

namespace {

// Step 1: batches, their cards, every outcome a station recorded, and the functions stations call.
const char* const StepOne = R"SQL(
DO $$ BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'stripewell_publisher') THEN
    CREATE ROLE stripewell_publisher NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'stripewell_station') THEN
    CREATE ROLE stripewell_station NOLOGIN;
  END IF;
END $$;

CREATE TABLE stripewell.batch (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  name text NOT NULL UNIQUE CHECK (name <> ''),
  choice int NOT NULL CHECK (choice BETWEEN 0 AND 5),
  size int NOT NULL CHECK (size > 0),
  published_by text NOT NULL DEFAULT session_user,
  published_at timestamptz NOT NULL DEFAULT now()
);

CREATE TABLE stripewell.card (
  batch_id bigint NOT NULL REFERENCES stripewell.batch,
  seq int NOT NULL CHECK (seq > 0),
  source_row int NOT NULL DEFAULT 0,
  t1 text NOT NULL,
  t2 text NOT NULL,
  t3 text NOT NULL,
  state text NOT NULL DEFAULT 'free' CHECK (state IN ('free', 'inflight', 'written')),
  station text,
  attempts int NOT NULL DEFAULT 0,
  claimed_at timestamptz,
  done_at timestamptz,
  PRIMARY KEY (batch_id, seq)
);
CREATE INDEX card_free ON stripewell.card (batch_id, seq) WHERE state = 'free';
CREATE INDEX card_station ON stripewell.card (batch_id, station) WHERE state = 'inflight';

CREATE TABLE stripewell.outcome (
  batch_id bigint NOT NULL,
  seq int NOT NULL,
  attempt int NOT NULL,
  station text NOT NULL,
  written boolean NOT NULL,
  note text NOT NULL DEFAULT '',
  at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (batch_id, seq, attempt),
  FOREIGN KEY (batch_id, seq) REFERENCES stripewell.card
);

-- The station's own card in flight first (a restarted station resends it), then
-- the first free card; a card another station holds is passed over, never waited for.
CREATE FUNCTION stripewell.claim_card(p_batch bigint)
RETURNS TABLE (card_seq int, card_row int, track1 text, track2 text, track3 text, card_attempts int, resumed boolean)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE c stripewell.card;
BEGIN
  SELECT * INTO c FROM stripewell.card k
   WHERE k.batch_id = p_batch AND k.state = 'inflight' AND k.station = session_user::text
   ORDER BY k.seq LIMIT 1;
  IF FOUND THEN
    RETURN QUERY SELECT c.seq, c.source_row, c.t1, c.t2, c.t3, c.attempts, true;
    RETURN;
  END IF;
  UPDATE stripewell.card k SET state = 'inflight', station = session_user::text, claimed_at = now()
   WHERE (k.batch_id, k.seq) = (SELECT f.batch_id, f.seq FROM stripewell.card f
                                 WHERE f.batch_id = p_batch AND f.state = 'free'
                                 ORDER BY f.seq LIMIT 1 FOR UPDATE SKIP LOCKED)
  RETURNING k.* INTO c;
  IF FOUND THEN
    PERFORM pg_notify('stripewell_batch', p_batch::text);
    RETURN QUERY SELECT c.seq, c.source_row, c.t1, c.t2, c.t3, c.attempts, false;
  END IF;
END $f$;

-- One outcome of one attempt. Recording an attempt again (its reply was lost)
-- changes nothing and says the card's state.
CREATE FUNCTION stripewell.record_outcome(p_batch bigint, p_seq int, p_attempt int, p_written boolean, p_note text)
RETURNS text
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE c stripewell.card;
BEGIN
  SELECT * INTO c FROM stripewell.card k WHERE k.batch_id = p_batch AND k.seq = p_seq FOR UPDATE;
  IF NOT FOUND THEN
    RAISE EXCEPTION 'batch % has no card %', p_batch, p_seq;
  END IF;
  IF c.station IS DISTINCT FROM session_user::text THEN
    RAISE EXCEPTION 'card % of batch % is not held by %', p_seq, p_batch, session_user;
  END IF;
  IF EXISTS (SELECT FROM stripewell.outcome o WHERE o.batch_id = p_batch AND o.seq = p_seq AND o.attempt = p_attempt) THEN
    RETURN c.state;
  END IF;
  IF c.state <> 'inflight' THEN
    RAISE EXCEPTION 'card % of batch % is %, not in flight', p_seq, p_batch, c.state;
  END IF;
  INSERT INTO stripewell.outcome (batch_id, seq, attempt, station, written, note)
  VALUES (p_batch, p_seq, p_attempt, session_user::text, p_written, coalesce(p_note, ''));
  UPDATE stripewell.card k SET attempts = greatest(k.attempts, p_attempt),
         state = CASE WHEN p_written THEN 'written' ELSE k.state END,
         done_at = CASE WHEN p_written THEN now() ELSE k.done_at END
   WHERE k.batch_id = p_batch AND k.seq = p_seq
  RETURNING k.state INTO c.state;
  PERFORM pg_notify('stripewell_batch', p_batch::text);
  RETURN c.state;
END $f$;

-- A card in flight that its station will not finish (checked by swiping it) goes back to the batch.
CREATE FUNCTION stripewell.hand_back(p_batch bigint, p_seq int)
RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
BEGIN
  UPDATE stripewell.card k SET state = 'free', station = NULL, claimed_at = NULL
   WHERE k.batch_id = p_batch AND k.seq = p_seq AND k.state = 'inflight';
  IF FOUND THEN
    PERFORM pg_notify('stripewell_batch', p_batch::text);
  END IF;
  RETURN FOUND;
END $f$;

REVOKE ALL ON SCHEMA stripewell FROM PUBLIC;
REVOKE ALL ON ALL TABLES IN SCHEMA stripewell FROM PUBLIC;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA stripewell FROM PUBLIC;
GRANT USAGE ON SCHEMA stripewell TO stripewell_publisher, stripewell_station;
GRANT SELECT ON stripewell.batch, stripewell.card, stripewell.outcome TO stripewell_publisher, stripewell_station;
GRANT INSERT ON stripewell.batch, stripewell.card TO stripewell_publisher;
GRANT EXECUTE ON FUNCTION stripewell.claim_card(bigint),
  stripewell.record_outcome(bigint, int, int, boolean, text) TO stripewell_station;
GRANT EXECUTE ON FUNCTION stripewell.hand_back(bigint, int) TO stripewell_publisher;
)SQL";

const QList<const char*> Steps = {StepOne};

struct Waiter
{
    PgConnection& connection;
    int timeoutMs;
    PgResult result;

    bool run(const QByteArray& sql)
    {
        bool done = false;
        connection.plain(sql, [&](const PgResult& r) {
            result = r;
            done = true;
        });
        connection.waitIdle(timeoutMs);
        if (!done)
            result = {false, QStringLiteral("no answer from the server in time")};
        return result.ok;
    }
};

} // namespace

namespace Schema {

int currentVersion()
{
    return int(Steps.size());
}

QString upgrade(PgConnection& admin, int timeoutMs)
{
    if (!admin.isOpen() && !admin.waitIdle(timeoutMs))
        return QStringLiteral("no connection to the server in time");
    if (!admin.isOpen())
        return QStringLiteral("not connected");
    Waiter w{admin, timeoutMs, {}};
    // One upgrade at a time, whoever else runs the command.
    if (!w.run("SELECT pg_advisory_lock(7253101); CREATE SCHEMA IF NOT EXISTS stripewell;"
               "CREATE TABLE IF NOT EXISTS stripewell.meta (version int NOT NULL);"
               "INSERT INTO stripewell.meta SELECT 0 WHERE NOT EXISTS (SELECT FROM stripewell.meta);"
               "REVOKE ALL ON stripewell.meta FROM PUBLIC; SELECT version FROM stripewell.meta"))
        return w.result.error;
    const int have = w.result.rows.value(0).value(0).toInt();
    if (have > currentVersion()) {
        w.run("SELECT pg_advisory_unlock(7253101)");
        return QStringLiteral("the database is at version %1, newer than this program's %2")
            .arg(have)
            .arg(currentVersion());
    }
    QString error;
    for (int step = have; step < currentVersion() && error.isEmpty(); ++step) {
        const QByteArray sql = QByteArray("BEGIN;") + Steps[step] +
                               QByteArray("; UPDATE stripewell.meta SET version = ") + QByteArray::number(step + 1) +
                               "; COMMIT;";
        if (!w.run(sql)) {
            error = QStringLiteral("step %1: %2").arg(step + 1).arg(w.result.error);
            w.run("ROLLBACK");
        }
    }
    w.run("GRANT SELECT ON stripewell.meta TO stripewell_publisher, stripewell_station;"
          "SELECT pg_advisory_unlock(7253101)");
    return error;
}

} // namespace Schema
