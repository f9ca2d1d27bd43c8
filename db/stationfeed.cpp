#include "db/stationfeed.h"

#include "base/error.h"
#include "writing/durablefile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int RetryMs = 2000;

} // namespace

StationFeed::StationFeed(QString connection, qint64 batch, QString outboxPath, QObject* parent)
    : QObject(parent), m_connection(std::move(connection)), m_batch(batch), m_outboxPath(std::move(outboxPath)),
      m_outbox(readOutbox(m_outboxPath))
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &StationFeed::connectNow);
    connect(&m_db, &PgConnection::connected, this, &StationFeed::onConnected);
    connect(&m_db, &PgConnection::failed, this, &StationFeed::onFailed);
}

QList<StationFeed::Outcome> StationFeed::readOutbox(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(
            QStringLiteral("Не удалось открыть файл неотправленных результатов %1: %2").arg(path, file.errorString()));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        throw Failure(
            QStringLiteral("Файл неотправленных результатов %1 повреждён: %2").arg(path, error.errorString()));
    QList<Outcome> outcomes;
    for (const QJsonValue& value : doc.array()) {
        const QJsonObject o = value.toObject();
        const Outcome outcome{o.value(u"batch").toInteger(), o.value(u"seq").toInt(), o.value(u"attempt").toInt(),
                              o.value(u"written").toBool(), o.value(u"note").toString()};
        if (outcome.batch <= 0 || outcome.seq <= 0 || outcome.attempt <= 0 || !o.value(u"written").isBool())
            throw Failure(QStringLiteral("Файл неотправленных результатов %1 повреждён: запись %2 неполна.")
                              .arg(path)
                              .arg(outcomes.size() + 1));
        outcomes.append(outcome);
    }
    return outcomes;
}

void StationFeed::saveOutbox()
{
    QJsonArray array;
    for (const Outcome& o : m_outbox)
        array.append(QJsonObject{{u"batch"_qs, o.batch},
                                 {u"seq"_qs, o.seq},
                                 {u"attempt"_qs, o.attempt},
                                 {u"written"_qs, o.written},
                                 {u"note"_qs, o.note}});
    DurableFile::replace(m_outboxPath, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

void StationFeed::start()
{
    connectNow();
}

void StationFeed::connectNow()
{
    setStatus(QStringLiteral("База данных: подключение…"));
    m_db.open(m_connection);
}

void StationFeed::onConnected()
{
    setStatus(QStringLiteral("База данных: подключено."));
    sendOutbox();
}

void StationFeed::onFailed(const QString& why)
{
    m_claiming = false;
    m_sending = false;
    setStatus(QStringLiteral("База данных недоступна (%1): карточка на линии дописывается, новые не берутся; "
                             "повтор через %2 с.")
                  .arg(why)
                  .arg(RetryMs / 1000));
    m_retry.start();
}

void StationFeed::requestCard()
{
    m_wantCard = true;
    if (!m_ready && !m_current && !m_claiming && !m_sending && m_outbox.isEmpty() && m_db.isOpen())
        claimNext();
}

SharedBatch::Card StationFeed::take()
{
    Q_ASSERT(m_ready);
    m_current = *m_ready;
    m_ready.reset();
    m_wantCard = false;
    m_attempt = m_current->attempts;
    return *m_current;
}

void StationFeed::outcome(bool written, const QString& note)
{
    Q_ASSERT(m_current);
    m_outbox.append({m_batch, m_current->seq, ++m_attempt, written, note});
    try {
        saveOutbox();
    } catch (...) {
        m_outbox.removeLast();
        --m_attempt;
        throw;
    }
    if (written)
        m_current.reset();
    sendOutbox();
}

void StationFeed::sendOutbox()
{
    if (m_sending || !m_db.isOpen())
        return;
    if (m_outbox.isEmpty()) {
        if (m_wantCard)
            requestCard();
        return;
    }
    m_sending = true;
    const Outcome o = m_outbox.first();
    SharedBatch::record(
        m_db, o.batch, o.seq, o.attempt, o.written, o.note, [this, o](const QString&, const QString& error) {
            if (!m_sending || !m_db.isOpen())
                return; // the connection went meanwhile: the outcome stays in the outbox
            m_sending = false;
            if (!error.isEmpty()) {
                // Kept, and nothing new claimed: the operator sees why.
                setStatus(QStringLiteral("База данных не приняла результат карточки %1: %2").arg(o.seq).arg(error));
                return;
            }
            if (!m_outbox.isEmpty() && m_outbox.first() == o) {
                m_outbox.removeFirst();
                try {
                    saveOutbox();
                } catch (const Failure& failure) {
                    // The database has it; sent again later it changes nothing.
                    setStatus(failure.text());
                }
            }
            sendOutbox();
        });
}

void StationFeed::claimNext()
{
    m_claiming = true;
    SharedBatch::claim(m_db, m_batch, [this](std::optional<SharedBatch::Card> card, const QString& error) {
        if (!m_claiming)
            return;
        m_claiming = false;
        if (!error.isEmpty()) {
            if (!m_db.isOpen())
                return; // said by onFailed; a claim that committed comes back as this station's own
            setStatus(QStringLiteral("База данных не выдала карточку: %1").arg(error));
            return;
        }
        m_exhausted = !card;
        m_ready = card;
        if (m_exhausted)
            setStatus(QStringLiteral("В партии не осталось карточек для этой станции."));
        else
            Q_EMIT changed();
    });
}

void StationFeed::setStatus(const QString& status)
{
    m_status = status;
    Q_EMIT changed();
}

StationCards::StationCards(const QString& connection, qint64 batch, const QString& outboxPath)
    : m_feed(connection, batch, outboxPath), m_station(PgConnection::userOf(connection))
{
    m_feed.start();
}

std::optional<CardTexts> StationCards::ready()
{
    const auto& card = m_feed.ready();
    if (!card) {
        m_feed.requestCard();
        return std::nullopt;
    }
    return CardTexts{card->texts[0], card->texts[1], card->texts[2]};
}
