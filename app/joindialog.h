#pragma once

#include "db/pgconnection.h"
#include "db/sharedbatch.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <optional>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The batch a station joins, as the join dialog gives it.
struct JoinChoice
{
    QString connection; // the one the batches were listed from
    qint64 batchId = 0;
    QString name;
    int choice = 0; // the track choice the batch was published for
};

// "Подключиться к партии…": the batches of the bureau's database, listed on
// "Показать партии" without the window waiting on the network (name, cards,
// written, in flight); OK gives the one chosen.
class JoinDialog : public QDialog
{
    Q_OBJECT

public:
    explicit JoinDialog(QWidget* parent = nullptr);

    void setConnection(const QString& connection);
    QString connection() const;
    // "Показать партии".
    void showBatches();
    bool busy() const { return m_phase != Phase::Idle; }
    const QList<SharedBatch::Summary>& batches() const { return m_batches; }
    // The batch chosen in the list; none while no batch is chosen.
    std::optional<JoinChoice> selection() const;
    void accept() override;

Q_SIGNALS:
    void listed(); // the list (or why there is none) is shown
    void joined(const JoinChoice& choice);

private:
    enum class Phase { Idle, Connecting, Listing };

    void onConnected();
    void onFailed(const QString& why);
    void onListed(const QList<SharedBatch::Summary>& batches, const QString& error);
    void setPhase(Phase phase, const QString& status);
    void updateOk();

    PgConnection m_db;
    Phase m_phase = Phase::Idle;
    QString m_listedConnection;
    QList<SharedBatch::Summary> m_batches;

    QLineEdit* m_connection = nullptr;
    QPushButton* m_show = nullptr;
    QTreeWidget* m_list = nullptr;
    QLabel* m_status = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};
