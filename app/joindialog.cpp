#include "app/joindialog.h"

#include "db/batchquery.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

JoinDialog::JoinDialog(QWidget* parent) : QDialog(parent), m_db(this)
{
    setObjectName(QStringLiteral("JoinDialog"));
    setWindowTitle(QStringLiteral("Подключиться к партии"));
    m_connection = new QLineEdit(this);
    m_connection->setObjectName(QStringLiteral("connection"));
    m_connection->setPlaceholderText(QStringLiteral("service=bureau"));
    m_show = new QPushButton(QStringLiteral("Показать партии"), this);
    m_show->setObjectName(QStringLiteral("showBatches"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("batches"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels(
        {QStringLiteral("Партия"), QStringLiteral("Карточек"), QStringLiteral("Записано"), QStringLiteral("В работе")});
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->header()->setStretchLastSection(false);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Said in Russian whether or not Qt's own translations are installed.
    m_buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));

    auto* line = new QHBoxLayout;
    line->addWidget(new QLabel(QStringLiteral("Подключение:"), this));
    line->addWidget(m_connection, 1);
    line->addWidget(m_show);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(line);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_status);
    layout->addWidget(m_buttons);
    resize(560, 360);
    updateOk();

    connect(m_show, &QPushButton::clicked, this, &JoinDialog::showBatches);
    connect(m_connection, &QLineEdit::returnPressed, this, &JoinDialog::showBatches);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &JoinDialog::updateOk);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &JoinDialog::accept);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &JoinDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(&m_db, &PgConnection::connected, this, &JoinDialog::onConnected);
    connect(&m_db, &PgConnection::failed, this, &JoinDialog::onFailed);
}

void JoinDialog::setConnection(const QString& connection)
{
    m_connection->setText(connection);
}

QString JoinDialog::connection() const
{
    return m_connection->text().trimmed();
}

void JoinDialog::showBatches()
{
    if (busy())
        return;
    const QString refusal = BatchQuery::connectionRefusal(connection());
    if (!refusal.isEmpty())
        return setPhase(Phase::Idle, refusal);
    m_listedConnection = connection();
    m_batches.clear();
    m_list->clear();
    setPhase(Phase::Connecting, QStringLiteral("Подключение к базе…"));
    m_db.open(m_listedConnection);
}

void JoinDialog::onConnected()
{
    if (m_phase != Phase::Connecting)
        return;
    setPhase(Phase::Listing, QStringLiteral("Список партий запрошен…"));
    SharedBatch::list(
        m_db, [this](const QList<SharedBatch::Summary>& batches, const QString& error) { onListed(batches, error); });
}

void JoinDialog::onFailed(const QString& why)
{
    // While listing, a lost connection comes as the list's own error.
    if (m_phase != Phase::Connecting)
        return;
    setPhase(Phase::Idle, QStringLiteral("Нет подключения к базе: %1").arg(why));
    Q_EMIT listed();
}

void JoinDialog::onListed(const QList<SharedBatch::Summary>& batches, const QString& error)
{
    if (!error.isEmpty()) {
        setPhase(Phase::Idle, QStringLiteral("Список партий не получен: %1").arg(error));
        Q_EMIT listed();
        return;
    }
    m_batches = batches;
    for (const SharedBatch::Summary& batch : batches) {
        auto* item = new QTreeWidgetItem(m_list, {batch.name, QString::number(batch.size),
                                                  QString::number(batch.written), QString::number(batch.inFlight)});
        for (int column = 1; column < 4; ++column)
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    if (!batches.isEmpty())
        m_list->setCurrentItem(m_list->topLevelItem(int(batches.size()) - 1));
    setPhase(Phase::Idle, batches.isEmpty()
                              ? QStringLiteral("В базе нет партий.")
                              : QStringLiteral("Партий в базе: %1. Выберите партию и нажмите OK.").arg(batches.size()));
    Q_EMIT listed();
}

std::optional<JoinChoice> JoinDialog::selection() const
{
    QTreeWidgetItem* item = m_list->currentItem();
    const int index = item && item->isSelected() ? m_list->indexOfTopLevelItem(item) : -1;
    if (index < 0 || index >= m_batches.size())
        return std::nullopt;
    const SharedBatch::Summary& batch = m_batches[index];
    return JoinChoice{m_listedConnection, batch.id, batch.name, batch.choice};
}

void JoinDialog::accept()
{
    const std::optional<JoinChoice> chosen = selection();
    if (!chosen)
        return;
    Q_EMIT joined(*chosen);
    QDialog::accept();
}

void JoinDialog::setPhase(Phase phase, const QString& status)
{
    m_phase = phase;
    m_status->setText(status);
    m_show->setEnabled(phase == Phase::Idle);
    updateOk();
}

void JoinDialog::updateOk()
{
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!busy() && selection().has_value());
}
