#include "app/batchview.h"

#include "db/sharedbatch.h"

#include <QAbstractTableModel>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

const QString Channel = QStringLiteral("stripewell_batch");
constexpr int StateColumn = 2; // as BatchQuery::headers() has it
// Changes closer together than this are read as one.
constexpr int CoalesceMs = 300;
constexpr int ReconnectMs = 2000;

bool qtAsk(QWidget* owner, const QString& question)
{
    return QMessageBox::question(owner, QStringLiteral("Вернуть в партию"), question,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

QString qtCsvPath(QWidget* owner)
{
    return QFileDialog::getSaveFileName(owner, QStringLiteral("Сохранить в CSV"), {}, QStringLiteral("CSV (*.csv)"));
}

} // namespace

// The cards of a batch as last read, one line a card.
class BatchCardsModel : public QAbstractTableModel
{
public:
    explicit BatchCardsModel(QObject* parent) : QAbstractTableModel(parent), m_headers(BatchQuery::headers()) {}

    void setCards(const QList<BatchQuery::CardRow>* cards)
    {
        beginResetModel();
        m_cards = cards;
        endResetModel();
    }
    // The same cards, their states changed.
    void statesChanged()
    {
        if (rowCount() > 0)
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole});
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() || !m_cards ? 0 : int(m_cards->size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_headers.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || !m_cards)
            return {};
        const BatchQuery::CardRow& card = (*m_cards)[index.row()];
        if (role == Qt::DisplayRole)
            return BatchQuery::fields(card).value(index.column());
        if (role == Qt::TextAlignmentRole && (index.column() <= 1 || index.column() == 4))
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return m_headers.value(section);
        return {};
    }

private:
    QStringList m_headers;
    const QList<BatchQuery::CardRow>* m_cards = nullptr;
};

BatchView::BatchView(const QString& connection, qint64 batch, QWidget* parent)
    : QWidget(parent, Qt::Window), m_connectionString(connection), m_batch(batch), m_db(this)
{
    setObjectName(QStringLiteral("BatchView"));
    setWindowTitle(QStringLiteral("Партия"));
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("counts"));
    m_status = new QLabel(QStringLiteral("Подключение к базе…"), this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_model = new BatchCardsModel(this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("cards"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_handBack = new QPushButton(QStringLiteral("Вернуть в партию"), this);
    m_handBack->setObjectName(QStringLiteral("handBack"));
    m_save = new QPushButton(QStringLiteral("Сохранить в CSV…"), this);
    m_save->setObjectName(QStringLiteral("saveCsv"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_handBack);
    buttons->addStretch();
    buttons->addWidget(m_save);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_counts);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(880, 480);

    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(CoalesceMs);
    m_reconnect.setSingleShot(true);
    m_reconnect.setInterval(ReconnectMs);
    connect(&m_coalesce, &QTimer::timeout, this, &BatchView::refresh);
    connect(&m_reconnect, &QTimer::timeout, this, [this] { m_db.open(m_connectionString); });
    connect(&m_db, &PgConnection::connected, this, &BatchView::onConnected);
    connect(&m_db, &PgConnection::failed, this, &BatchView::onFailed);
    connect(&m_db, &PgConnection::notified, this, &BatchView::onNotified);
    connect(m_handBack, &QPushButton::clicked, this, &BatchView::handBackSelected);
    connect(m_save, &QPushButton::clicked, this, &BatchView::saveCsv);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &BatchView::updateButtons);
    updateButtons();
    m_db.open(m_connectionString);
}

void BatchView::onConnected()
{
    // Listening first: a change made while the batch is read is read again after.
    m_db.plain("LISTEN stripewell_batch", [this](const PgResult& r) {
        if (!r.ok)
            showStatus(QStringLiteral("Изменения партии не отслеживаются: %1").arg(r.error));
    });
    showStatus({});
    updateButtons();
    refresh();
}

void BatchView::onFailed(const QString& why)
{
    m_loading = false;
    showStatus(QStringLiteral("Нет связи с базой: %1. Повтор через 2 с.").arg(why));
    m_reconnect.start();
    updateButtons();
}

void BatchView::onNotified(const QString& channel, const QString& payload)
{
    // A change of this batch, or a batch published (its notice names none).
    if (channel != Channel || (!payload.isEmpty() && payload != QString::number(m_batch)))
        return;
    if (!m_coalesce.isActive())
        m_coalesce.start();
}

void BatchView::refresh()
{
    if (!m_db.isOpen())
        return;
    if (m_loading) {
        m_again = true;
        return;
    }
    m_loading = true;
    const auto loaded = [this](const BatchQuery::Snapshot& batch, const QString& error) { onLoaded(batch, error); };
    if (m_snapshot.cards.isEmpty())
        BatchQuery::load(m_db, m_batch, loaded);
    else
        BatchQuery::update(m_db, m_snapshot, loaded);
}

void BatchView::onLoaded(const BatchQuery::Snapshot& batch, const QString& error)
{
    m_loading = false;
    if (!error.isEmpty()) {
        showStatus(QStringLiteral("Партия не прочитана: %1").arg(error));
        return;
    }
    if (batch.cards.size() == m_snapshot.cards.size()) {
        m_snapshot = batch; // the same cards: the list keeps its selection and place
        m_model->statesChanged();
    } else {
        m_model->setCards(nullptr);
        m_snapshot = batch;
        m_model->setCards(&m_snapshot.cards);
        m_table->resizeColumnsToContents();
    }
    // A station's name in the state comes later than the first read: the column grows to it.
    m_table->setColumnWidth(StateColumn,
                            std::max(m_table->columnWidth(StateColumn),
                                     static_cast<QAbstractItemView*>(m_table)->sizeHintForColumn(StateColumn)));
    setWindowTitle(QStringLiteral("Партия «%1»").arg(m_snapshot.name));
    m_counts->setText(BatchQuery::countsText(m_snapshot));
    updateButtons();
    Q_EMIT updated();
    if (std::exchange(m_again, false))
        m_coalesce.start();
}

const BatchQuery::CardRow* BatchView::selectedCard() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty() || rows.first().row() >= m_snapshot.cards.size())
        return nullptr;
    return &m_snapshot.cards[rows.first().row()];
}

void BatchView::handBackSelected()
{
    const BatchQuery::CardRow* card = selectedCard();
    if (!card || card->state != QLatin1String("inflight"))
        return showStatus(QStringLiteral("Выберите карточку в работе."));
    const int seq = card->seq;
    const QString question = QStringLiteral("Карточка %1 у станции %2. Вернуть её в партию? Сначала проверьте "
                                            "карточку, проведя её через считыватель.")
                                 .arg(seq)
                                 .arg(card->station);
    if (!(m_hooks.ask ? m_hooks.ask(this, question) : qtAsk(this, question)))
        return;
    SharedBatch::handBack(m_db, m_batch, seq,
                          [this, seq](bool handedBack, const QString& error) { onHandedBack(seq, handedBack, error); });
}

void BatchView::onHandedBack(int seq, bool handedBack, const QString& error)
{
    if (!error.isEmpty())
        showStatus(QStringLiteral("Карточка %1 не возвращена: %2").arg(seq).arg(error));
    else if (!handedBack)
        showStatus(QStringLiteral("Карточка %1 уже не в работе: её записали или вернули раньше.").arg(seq));
    else
        showStatus(QStringLiteral("Карточка %1 возвращена в партию.").arg(seq));
    refresh();
}

void BatchView::saveCsv()
{
    const QString path = m_hooks.csvPath ? m_hooks.csvPath(this) : qtCsvPath(this);
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(BatchQuery::csv(m_snapshot)) < 0 || !file.commit())
        return showStatus(QStringLiteral("Список не сохранён: %1: %2").arg(path, file.errorString()));
    showStatus(QStringLiteral("Список сохранён: %1").arg(path));
}

void BatchView::showStatus(const QString& text)
{
    m_status->setText(text);
}

void BatchView::updateButtons()
{
    const BatchQuery::CardRow* card = selectedCard();
    m_handBack->setEnabled(m_db.isOpen() && card && card->state == QLatin1String("inflight"));
    m_save->setEnabled(!m_snapshot.cards.isEmpty());
}
