#pragma once

#include "db/pgconnection.h"
#include "db/sharedbatch.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

// "Опубликовать партию…": the cards the caller composed and checked go to the
// bureau's database as one batch under a name. The window never waits on the
// network: it says what it is doing, and its button is off while it publishes.
// The connection is libpq's (a string or service=NAME); one with a password in
// it is refused, since the caller may keep it.
class PublishDialog : public QDialog
{
    Q_OBJECT

public:
    // `choice`: the track choice the cards were composed for, 0 .. 5.
    PublishDialog(QList<SharedBatch::Card> cards, int choice, QWidget* parent = nullptr);

    void setConnection(const QString& connection);
    QString connection() const;
    // "Опубликовать".
    void publish();
    bool busy() const { return m_phase == Phase::Connecting || m_phase == Phase::Publishing; }
    // The batch's id once it is published.
    std::optional<qint64> publishedId() const { return m_id; }

Q_SIGNALS:
    void published(const QString& connection, qint64 batch, const QString& name);

private:
    enum class Phase { Idle, Connecting, Publishing, Done };

    void onConnected();
    void onFailed(const QString& why);
    void onPublished(std::optional<qint64> id, const QString& error);
    void setPhase(Phase phase, const QString& status);

    QList<SharedBatch::Card> m_cards;
    int m_choice = 0;
    PgConnection m_db;
    Phase m_phase = Phase::Idle;
    QString m_sentConnection;
    QString m_sentName;
    std::optional<qint64> m_id;

    QLineEdit* m_connection = nullptr;
    QLineEdit* m_name = nullptr;
    QPushButton* m_publish = nullptr;
    QPushButton* m_close = nullptr;
    QLabel* m_status = nullptr;
};
