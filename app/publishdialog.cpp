#include "app/publishdialog.h"

#include "db/batchquery.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PublishDialog::PublishDialog(QList<SharedBatch::Card> cards, int choice, QWidget* parent)
    : QDialog(parent), m_cards(std::move(cards)), m_choice(choice), m_db(this)
{
    setObjectName(QStringLiteral("PublishDialog"));
    setWindowTitle(QStringLiteral("Опубликовать партию"));
    m_connection = new QLineEdit(this);
    m_connection->setObjectName(QStringLiteral("connection"));
    m_connection->setPlaceholderText(QStringLiteral("service=bureau"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("batchName"));
    m_status = new QLabel(QStringLiteral("Карточек к публикации: %1.").arg(m_cards.size()), this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_publish = new QPushButton(QStringLiteral("Опубликовать"), this);
    m_publish->setObjectName(QStringLiteral("publish"));
    m_publish->setDefault(true);
    m_close = new QPushButton(QStringLiteral("Закрыть"), this);
    m_close->setObjectName(QStringLiteral("close"));

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Подключение:"), m_connection);
    fields->addRow(QStringLiteral("Имя партии:"), m_name);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_publish);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    setMinimumWidth(480);

    connect(m_publish, &QPushButton::clicked, this, &PublishDialog::publish);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_db, &PgConnection::connected, this, &PublishDialog::onConnected);
    connect(&m_db, &PgConnection::failed, this, &PublishDialog::onFailed);
}

void PublishDialog::setConnection(const QString& connection)
{
    m_connection->setText(connection);
}

QString PublishDialog::connection() const
{
    return m_connection->text().trimmed();
}

void PublishDialog::publish()
{
    if (busy() || m_phase == Phase::Done)
        return;
    QString refusal = BatchQuery::connectionRefusal(connection());
    if (refusal.isEmpty() && m_name->text().trimmed().isEmpty())
        refusal = QStringLiteral("Укажите имя партии.");
    if (!refusal.isEmpty())
        return setPhase(Phase::Idle, refusal);
    m_sentConnection = connection();
    m_sentName = m_name->text().trimmed();
    setPhase(Phase::Connecting, QStringLiteral("Подключение к базе…"));
    m_db.open(m_sentConnection);
}

void PublishDialog::onConnected()
{
    if (m_phase != Phase::Connecting)
        return;
    setPhase(Phase::Publishing,
             QStringLiteral("Публикуется партия «%1»: %2 карточек…").arg(m_sentName).arg(m_cards.size()));
    SharedBatch::publish(m_db, m_sentName, m_choice, m_cards,
                         [this](std::optional<qint64> id, const QString& error) { onPublished(id, error); });
}

void PublishDialog::onFailed(const QString& why)
{
    // While publishing, a lost connection comes as the publish's own error.
    if (m_phase == Phase::Connecting)
        setPhase(Phase::Idle, QStringLiteral("Нет подключения к базе: %1").arg(why));
}

void PublishDialog::onPublished(std::optional<qint64> id, const QString& error)
{
    if (!id)
        return setPhase(Phase::Idle, QStringLiteral("Партия не опубликована: %1").arg(error));
    m_id = id;
    setPhase(Phase::Done, QStringLiteral("Партия «%1» опубликована: %2 карточек.").arg(m_sentName).arg(m_cards.size()));
    Q_EMIT published(m_sentConnection, *id, m_sentName);
}

void PublishDialog::setPhase(Phase phase, const QString& status)
{
    m_phase = phase;
    m_status->setText(status);
    // A published batch is not sent twice; the fields stay as they went.
    m_publish->setEnabled(phase == Phase::Idle && !m_cards.isEmpty());
    m_connection->setReadOnly(phase != Phase::Idle);
    m_name->setReadOnly(phase != Phase::Idle);
}
