#pragma once

#include "db/batchquery.h"
#include "db/pgconnection.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

class BatchCardsModel;
class QLabel;
class QPushButton;
class QTableView;

// A shared batch as the bureau's database holds it, kept up to date: the cards
// written, in flight (by station) and not yet taken, and every card with its
// state. It listens on the batches' channel and reads the batch again when
// something changed (a burst of changes is read once). A card in flight that
// its station will not finish goes back to the batch on "Вернуть в партию",
// after a question; "Сохранить в CSV…" saves the list.
class BatchView : public QWidget
{
    Q_OBJECT

public:
    // What the view asks the operator; unset, Qt's own boxes ask.
    struct Hooks
    {
        std::function<bool(QWidget* owner, const QString& question)> ask; // true for "Да"
        std::function<QString(QWidget* owner)> csvPath;                   // empty: cancelled
    };

    // A window of its own, also when it has a parent.
    BatchView(const QString& connection, qint64 batch, QWidget* parent = nullptr);

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    // Reads the batch again now.
    void refresh();
    // "Вернуть в партию": the selected card, when it is in flight.
    void handBackSelected();
    // "Сохранить в CSV…".
    void saveCsv();

    const BatchQuery::Snapshot& snapshot() const { return m_snapshot; }
    QTableView* table() const { return m_table; }

Q_SIGNALS:
    void updated(); // the batch as just read is shown

private:
    void onConnected();
    void onFailed(const QString& why);
    void onNotified(const QString& channel, const QString& payload);
    void onLoaded(const BatchQuery::Snapshot& batch, const QString& error);
    void onHandedBack(int seq, bool handedBack, const QString& error);
    void showStatus(const QString& text);
    const BatchQuery::CardRow* selectedCard() const;
    void updateButtons();

    QString m_connectionString;
    qint64 m_batch = 0;
    PgConnection m_db;
    Hooks m_hooks;
    BatchQuery::Snapshot m_snapshot;
    bool m_loading = false;
    bool m_again = false; // a change came while the batch was being read
    QTimer m_coalesce;    // changes close together are read once
    QTimer m_reconnect;

    BatchCardsModel* m_model = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_counts = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_handBack = nullptr;
    QPushButton* m_save = nullptr;
};
