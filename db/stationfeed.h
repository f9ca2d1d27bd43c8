#pragma once

#include "db/pgconnection.h"
#include "db/sharedbatch.h"
#include "writing/handedcards.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

// A station's side of a shared batch: the cards it claims and the outcomes it
// records, whatever the network does meanwhile.
//
// A card is handed to the write loop only once its claim has committed, so it
// is on the line at this station only. Every outcome goes first to a local
// outbox file (on disk before outcome() returns), then to the database, and
// leaves the outbox when the database has it. While the database cannot be
// reached the station finishes the card it has, claims nothing new, and tries
// again every few seconds; back, it sends the outbox before it claims again.
// A restarted station sends its outbox, then claims, and is given its own card
// in flight first.
class StationFeed : public QObject
{
    Q_OBJECT
public:
    struct Outcome
    {
        qint64 batch = 0;
        int seq = 0;
        int attempt = 0;
        bool written = false;
        QString note;
        friend bool operator==(const Outcome&, const Outcome&) = default;
    };

    // Reads the outbox a run before left; throws Failure when it cannot be read.
    StationFeed(QString connection, qint64 batch, QString outboxPath, QObject* parent = nullptr);

    void start();
    // The write loop wants a card: one is claimed if none is ready.
    void requestCard();
    // A card claimed for this station and not yet given to the write loop.
    const std::optional<SharedBatch::Card>& ready() const { return m_ready; }
    // The write loop takes the ready card; it is this station's until written.
    SharedBatch::Card take();
    // The terminal's verdict on the card taken last. Throws Failure when the
    // outbox cannot be written (nothing is sent then).
    void outcome(bool written, const QString& note = {});

    bool connected() const { return m_db.isOpen(); }
    // Every card of the batch is written or held by other stations.
    bool exhausted() const { return m_exhausted; }
    const QList<Outcome>& outbox() const { return m_outbox; }
    QString status() const { return m_status; }

    static QList<Outcome> readOutbox(const QString& path);

Q_SIGNALS:
    void changed();

private:
    void connectNow();
    void onConnected();
    void onFailed(const QString& why);
    void sendOutbox();
    void claimNext();
    void saveOutbox();
    void setStatus(const QString& status);

    QString m_connection;
    qint64 m_batch = 0;
    QString m_outboxPath;
    PgConnection m_db;
    QTimer m_retry;
    QList<Outcome> m_outbox;
    std::optional<SharedBatch::Card> m_ready;
    std::optional<SharedBatch::Card> m_current; // taken, not yet written
    int m_attempt = 0;
    bool m_wantCard = false;
    bool m_claiming = false;
    bool m_sending = false;
    bool m_exhausted = false;
    QString m_status;
};

// The feed as the write loop sees a shared batch's cards: started on the
// batch a job joined, its outbox beside the job.
class StationCards : public HandedCards
{
public:
    // Throws Failure when the outbox a run before left cannot be read.
    StationCards(const QString& connection, qint64 batch, const QString& outboxPath);

    StationFeed& feed() { return m_feed; }

    std::optional<CardTexts> ready() override;
    void take() override { m_feed.take(); }
    void outcome(bool written, const QString& note) override { m_feed.outcome(written, note); }
    bool finished() const override { return m_feed.exhausted() && !m_feed.ready(); }
    QString station() const override { return m_station; }

private:
    StationFeed m_feed;
    QString m_station;
};
