#include "app/previewwindow.h"

#include "app/batchahead.h"
#include "app/filedialogs.h"
#include "app/messages.h"
#include "link/commandset.h"
#include "writing/batchsession.h"
#include "writing/csvfield.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QColor>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

#include <vector>

namespace {

enum Column { CardColumn, RowColumn, Track1Column, Track2Column, Track3Column, ProblemColumn, ColumnCount };

const char* const Headers[ColumnCount] = {"Карточка", "Строка", "Дорожка 1", "Дорожка 2", "Дорожка 3", "Проблема"};

// A moment: a pre-flight that ends sooner shows no progress.
constexpr int MomentMs = 300;
constexpr int CheckMs = 1000;
// Fits a screen of 1024 by 768 with the window's frame and a taskbar.
constexpr int DefaultWidth = 960;
constexpr int DefaultHeight = 480;

} // namespace

// The cards of a pre-flight's result, all or only those with a problem.
class BatchModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setResult(const Preflight::Result* result)
    {
        beginResetModel();
        m_result = result;
        m_problems.clear();
        for (const Preflight::Issue& issue : result->problems) {
            QString& text = m_problems[issue.card];
            text += (text.isEmpty() ? QString() : QStringLiteral("; ")) + PreviewWindow::issueLine(issue);
        }
        // A cell that does not read ends the batch, and so does data that ends
        // before the size: the card it ends at is listed with the reason.
        m_endLine = result->end && result->end->kind == Preflight::Problem::Unreadable;
        if (m_endLine)
            m_problems[result->end->card] = PreviewWindow::issueLine(*result->end);
        m_endLine = m_endLine || (result->end && m_problems.contains(result->end->card));
        choose();
        endResetModel();
    }
    void setProblemsOnly(bool only)
    {
        beginResetModel();
        m_only = only;
        choose();
        endResetModel();
    }
    // The line of the first card with a problem; -1 when there is none.
    int firstProblemLine() const
    {
        for (int line = 0; line < int(m_cards.size()); ++line)
            if (m_problems.contains(m_cards[std::size_t(line)]))
                return line;
        return -1;
    }
    int cardCount() const { return m_result ? int(m_result->cards.size()) + (m_endLine ? 1 : 0) : 0; }
    // The text of a field of card `card` (from 1).
    QString field(int card, int column) const
    {
        const bool hasCard = card <= m_result->cards.size();
        switch (column) {
        case CardColumn:
            return QString::number(card);
        case RowColumn: {
            const int row = hasCard ? m_result->cards[card - 1].row : m_result->end->row;
            return row > 0 ? QString::number(row) : QString();
        }
        case ProblemColumn:
            return m_problems.value(card);
        default:
            return hasCard ? m_result->cards[card - 1].texts[std::size_t(column - Track1Column)] : QString();
        }
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_cards.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : ColumnCount; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const int card = m_cards[std::size_t(index.row())];
        if (role == Qt::DisplayRole || (role == Qt::ToolTipRole && index.column() >= Track1Column))
            return field(card, index.column());
        if (role == Qt::ForegroundRole && m_problems.contains(card))
            return QColor(Qt::darkRed);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return QString::fromUtf8(Headers[section]);
        return {};
    }

private:
    void choose()
    {
        m_cards.clear();
        if (!m_result)
            return;
        for (int card = 1; card <= cardCount(); ++card)
            if (!m_only || m_problems.contains(card))
                m_cards.push_back(card);
    }

    const Preflight::Result* m_result = nullptr;
    QHash<int, QString> m_problems; // by card
    bool m_endLine = false;         // a line for the card the batch ended at
    bool m_only = false;
    std::vector<int> m_cards; // the cards shown, one a line
};

PreviewWindow::PreviewWindow(QWidget* parent, BatchSession& session, std::function<int()> choice,
                             std::function<QString()> journalPath, std::function<int()> size)
    : QDialog(parent), m_session(session), m_choice(std::move(choice)), m_journalPath(std::move(journalPath)),
      m_size(std::move(size))
{
    setObjectName(QStringLiteral("PreviewWindow"));
    setWindowTitle(QStringLiteral("Просмотр партии"));
    setModal(false);
    setUpControls();
    connect(&m_runner, &PreflightRunner::progress, this, &PreviewWindow::showProgress);
    connect(&m_runner, &PreflightRunner::finished, this, &PreviewWindow::showResult);
    connect(&m_session, &BatchSession::templatesEdited, this, [this] {
        if (isVisible())
            refresh();
    });
    m_check.setInterval(CheckMs);
    connect(&m_check, &QTimer::timeout, this, [this] { Platform::guarded(this, [this] { checkForChanges(); }); });
    m_moment.setSingleShot(true);
    m_moment.setInterval(MomentMs);
    connect(&m_moment, &QTimer::timeout, this, [this] {
        m_progress->setVisible(true);
        m_cancel->setVisible(true);
    });
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::setUpControls()
{
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("Summary"));
    m_summary->setWordWrap(true);
    m_problemsOnly = new QCheckBox(QStringLiteral("Только проблемы"), this);
    m_problemsOnly->setObjectName(QStringLiteral("ProblemsOnly"));
    m_firstProblem = new QPushButton(QStringLiteral("К первой проблеме"), this);
    m_firstProblem->setObjectName(QStringLiteral("FirstProblem"));
    m_save = new QPushButton(QStringLiteral("Сохранить в CSV…"), this);
    m_save->setObjectName(QStringLiteral("SaveCsv"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("Progress"));
    m_cancel = new QPushButton(QStringLiteral("Отмена"), this);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    m_progress->setVisible(false);
    m_cancel->setVisible(false);

    m_model = new BatchModel(this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("Table"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->setVisible(false);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(CardColumn, 70);
    m_table->setColumnWidth(RowColumn, 60);
    for (int column = Track1Column; column <= Track3Column; ++column)
        m_table->setColumnWidth(column, 220);

    auto* tools = new QHBoxLayout;
    tools->addWidget(m_problemsOnly);
    tools->addWidget(m_firstProblem);
    tools->addStretch();
    tools->addWidget(m_save);
    auto* progress = new QHBoxLayout;
    progress->addWidget(m_progress, 1);
    progress->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addLayout(tools);
    layout->addWidget(m_table, 1);
    layout->addLayout(progress);
    setSizeGripEnabled(true);
    resize(DefaultWidth, DefaultHeight);

    const auto guard = [this](void (PreviewWindow::*handler)()) { return Platform::guardedSlot(this, handler); };
    connect(m_firstProblem, &QPushButton::clicked, this, guard(&PreviewWindow::goToFirstProblem));
    connect(m_save, &QPushButton::clicked, this, guard(&PreviewWindow::saveCsv));
    connect(m_cancel, &QPushButton::clicked, this, guard(&PreviewWindow::cancelRun));
    connect(m_problemsOnly, &QCheckBox::toggled, this, &PreviewWindow::showProblemsOnly);
}

QString PreviewWindow::issueWhere(const Preflight::Issue& issue)
{
    if (issue.row <= 0)
        return {};
    return issue.cell.isEmpty() ? QStringLiteral(" (строка %1)").arg(issue.row)
                                : QStringLiteral(" (строка %1, ячейка %2)").arg(issue.row).arg(issue.cell);
}

QString PreviewWindow::issueLine(const Preflight::Issue& issue)
{
    return QStringLiteral("Карточка %1").arg(issue.card) + issueWhere(issue) + QStringLiteral(": ") + issue.message;
}

void PreviewWindow::refresh()
{
    auto& excel = m_session.workbook();
    if (!m_session.workbookReady()) { // a file changed on disk is read again first
        m_pending = true;             // taken up at the next look, once the file is read
        if (!m_check.isActive())
            m_check.start();
        return;
    }
    m_pending = false;
    m_templates = m_session.templates();
    m_shownChoice = m_choice();
    m_shownSize = sizeNow();
    SheetSnapshot sheet = excel.hasWorkbook() ? excel.snapshot() : SheetSnapshot();
    m_version = sheet.version();
    m_runner.start({m_templates, m_shownChoice, std::move(sheet), m_journalPath(), m_shownSize});
    m_summary->setText(QStringLiteral("Проверка партии…"));
    m_progress->setRange(0, 0);
    m_moment.start();
    m_check.start();
}

void PreviewWindow::checkForChanges()
{
    if (!isVisible()) {
        m_check.stop();
        return;
    }
    auto& excel = m_session.workbook();
    if (!m_session.workbookReady())
        return;
    const quint64 version = excel.hasWorkbook() ? excel.snapshot().version() : 0;
    if (m_pending || version != m_version || m_shownChoice != m_choice() || m_shownSize != sizeNow() ||
        !(m_templates == m_session.templates()))
        refresh();
}

void PreviewWindow::showProgress(int done, int expected)
{
    m_progress->setRange(0, expected > 0 ? expected : 0);
    if (expected > 0)
        m_progress->setValue(std::min(done, expected));
}

void PreviewWindow::showResult(const Preflight::Result& result)
{
    m_moment.stop();
    m_progress->setVisible(false);
    m_cancel->setVisible(false);
    m_result = result;
    m_model->setResult(&m_result);
    for (int track = 1; track <= 3; ++track)
        m_table->setColumnHidden(Track1Column + track - 1, !CommandSet::choiceCarries(m_shownChoice, track));
    m_summary->setText(summary());
    Q_EMIT updated();
}

void PreviewWindow::cancelRun()
{
    m_runner.cancel();
    m_moment.stop();
    m_progress->setVisible(false);
    m_cancel->setVisible(false);
    m_summary->setText(QStringLiteral("Проверка партии отменена."));
}

QString PreviewWindow::summary() const
{
    const qsizetype stops = m_result.stops().size();
    const QString first = m_result.partial ? QStringLiteral("Без размера партии показаны первые %1 карточек; укажите "
                                                            "«Карточек в партии», чтобы проверить всю партию.")
                                                 .arg(m_result.cards.size())
                                           : BatchAhead::batchLine(m_result);
    QString text =
        first + QStringLiteral(" Остановят запись: %1. Предупреждений: %2.").arg(stops).arg(m_result.warnings().size());
    if (stops > 0)
        text +=
            QStringLiteral(" До первой остановки можно записать карточек: %1.").arg(m_result.cardsBeforeFirstStop());
    if (m_result.end && m_result.end->kind == Preflight::Problem::Unreadable)
        text += QLatin1Char(' ') + m_result.end->message;
    return text;
}

void PreviewWindow::goToFirstProblem()
{
    const int line = m_model->firstProblemLine();
    if (line < 0)
        return;
    m_table->selectRow(line);
    m_table->scrollTo(m_model->index(line, 0), QAbstractItemView::PositionAtTop);
}

void PreviewWindow::showProblemsOnly(bool only)
{
    if (m_problemsOnly->isChecked() != only)
        m_problemsOnly->setChecked(only);
    m_model->setProblemsOnly(only);
}

QByteArray PreviewWindow::csv() const
{
    QByteArray out;
    const auto line = [&out](const QStringList& fields) {
        QStringList encoded;
        for (const QString& f : fields)
            encoded << CsvField::encode(f);
        out += encoded.join(QLatin1Char(',')).toUtf8() + "\r\n";
    };
    QStringList header;
    for (const char* h : Headers)
        header << QString::fromUtf8(h);
    line(header);
    for (int card = 1; card <= m_model->cardCount(); ++card) {
        QStringList fields;
        for (int column = 0; column < ColumnCount; ++column)
            fields << m_model->field(card, column);
        line(fields);
    }
    return out;
}

void PreviewWindow::saveCsv()
{
    Platform::FileRequest request;
    request.mode = Platform::FileRequest::Mode::Save;
    request.title = QStringLiteral("Сохранить в CSV");
    request.filter = QStringLiteral("CSV (*.csv)");
    request.defaultSuffix = QStringLiteral("csv");
    const QString path = Platform::chooseFile(this, request);
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv()) < 0 || !file.commit())
        Platform::failureBox(this, QStringLiteral("Список не сохранён: %1: %2").arg(path, file.errorString()));
}
