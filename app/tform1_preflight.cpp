// The batch ahead, from the main window: the question at "Записать" when the
// pre-flight finds a problem, and the preview window.
#include "app/messages.h"
#include "app/previewwindow.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "app/tform3.h"
#include "link/commandset.h"
#include "ui_TForm1.h"
#include "writing/preflightrunner.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>

#include <algorithm>

namespace {

// How long "Записать" waits for the pre-flight before it shows its progress.
constexpr int QuickWaitMs = 500;
// The problems the question names; the preview lists them all.
constexpr int ProblemsNamed = 3;

// Whether the templates give cards at all for the choice: a carried track with a slot.
bool composesCards(const TemplateSet& templates, int choice)
{
    for (int track = 1; track <= 3; ++track) {
        if (!CommandSet::choiceCarries(choice, track))
            continue;
        for (const QString& text : templates.track(track).slotText)
            if (!text.isEmpty())
                return true;
    }
    return false;
}

} // namespace

PreflightRunner::Request TForm1::preflightRequest()
{
    auto& excel = m_session.workbook();
    return {m_session.templates(), m_session.trackChoice(), excel.hasWorkbook() ? excel.snapshot() : SheetSnapshot(),
            journalPath()};
}

QString TForm1::journalPath() const
{
    return QFileInfo(m_settings.path()).absoluteDir().filePath(QStringLiteral("journal.csv"));
}

QString TForm1::batchAheadQuestion(const Preflight::Result& result)
{
    QStringList lines;
    lines << QStringLiteral("Проверка партии: данные дают карточек: %1, проблем: %2. До первой проблемы можно записать "
                            "карточек: %3.")
                 .arg(result.cards.size())
                 .arg(result.problems.size())
                 .arg(result.cardsBeforeFirstProblem());
    QList<Preflight::Issue> named = result.problems.mid(0, ProblemsNamed);
    if (result.end && result.end->kind == Preflight::Problem::Unreadable && named.size() < ProblemsNamed)
        named << *result.end;
    lines << QString();
    for (const Preflight::Issue& issue : named)
        lines << PreviewWindow::issueLine(issue);
    if (result.problems.size() > named.size())
        lines << QStringLiteral("… все проблемы: «Просмотр партии».");
    lines << QString() << QStringLiteral("Начать запись? Запись остановится на карточке, которую нельзя записать.");
    return lines.join(QLatin1Char('\n'));
}

// Before the first card of a run: when the batch ahead holds a problem the
// operator says whether to start. A clean batch starts at once; a run that
// resumes a card in flight has its own question about that card.
bool TForm1::confirmBatchAhead()
{
    if (m_session.writeLoop().pendingCard() || !composesCards(m_session.templates(), m_session.trackChoice()))
        return true;
    PreflightRunner runner;
    runner.start(preflightRequest());
    std::optional<Preflight::Result> result = runner.waitFor(QuickWaitMs);
    if (!result) {
        QProgressDialog progress(QStringLiteral("Проверка партии…"), QStringLiteral("Отмена"), 0, 0, this);
        progress.setWindowTitle(QStringLiteral("Проверка партии"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(0);
        QEventLoop wait;
        connect(&runner, &PreflightRunner::progress, &progress, [&progress](int done, int expected) {
            progress.setMaximum(expected);
            progress.setValue(std::min(done, expected > 0 ? expected : done));
        });
        connect(&runner, &PreflightRunner::finished, &wait, [&](const Preflight::Result& r) {
            result = r;
            wait.quit();
        });
        connect(&progress, &QProgressDialog::canceled, &wait, &QEventLoop::quit);
        progress.show();
        wait.exec();
        if (!result)
            return false; // cancelled: nothing starts, "Записать" is pressed again when wanted
    }
    if (result->clean())
        return true;
    return Platform::askYesNo(this, batchAheadQuestion(*result), QStringLiteral("Внимание!"));
}

void TForm1::showPreview()
{
    if (!m_preview) {
        m_preview = new PreviewWindow(this, m_session, [this] { return m_session.trackChoice(); },
                                      [this] { return journalPath(); });
    }
    m_preview->show();
    m_preview->raise();
    m_preview->activateWindow();
    m_preview->refresh();
}

void TForm1::setUpPreview()
{
    // In the free space beside the count, above "Записать".
    auto* button = new QPushButton(QStringLiteral("Просмотр партии…"), ui->TabSheet2);
    button->setObjectName(QStringLiteral("PreviewButton"));
    button->setGeometry(352, 138, 212, 26);
    connect(button, &QPushButton::clicked, this, Platform::guardedSlot(this, &TForm1::showPreview));
    auto* action = new QAction(QStringLiteral("Просмотр партии…"), this);
    action->setObjectName(QStringLiteral("PreviewAction"));
    ui->N1->insertAction(ui->N1->actions().value(3), action); // after the job's three, before "Выход"
    connect(action, &QAction::triggered, this, Platform::guardedSlot(this, &TForm1::showPreview));
}
