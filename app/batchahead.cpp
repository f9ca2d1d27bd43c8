#include "app/batchahead.h"

#include "app/messages.h"
#include "app/previewwindow.h"
#include "link/commandset.h"
#include "writing/batchsession.h"

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

namespace BatchAhead {

PreflightRunner::Request request(BatchSession& session, const QString& journalPath)
{
    session.settleWorkbook(true); // "Записать" while the workbook is still being read waits for it
    TExcelApplication& excel = session.workbook();
    return {session.templates(), session.trackChoice(), excel.hasWorkbook() ? excel.snapshot() : SheetSnapshot(),
            journalPath};
}

QString question(const Preflight::Result& result)
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
bool confirm(QWidget* owner, BatchSession& session, const QString& journalPath)
{
    if (session.writeLoop().pendingCard() || !composesCards(session.templates(), session.trackChoice()))
        return true;
    PreflightRunner runner;
    runner.start(request(session, journalPath));
    std::optional<Preflight::Result> result = runner.waitFor(QuickWaitMs);
    if (!result) {
        QProgressDialog progress(QStringLiteral("Проверка партии…"), QStringLiteral("Отмена"), 0, 0, owner);
        progress.setWindowTitle(QStringLiteral("Проверка партии"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(0);
        QEventLoop wait;
        QObject::connect(&runner, &PreflightRunner::progress, &progress, [&progress](int done, int expected) {
            progress.setMaximum(expected);
            progress.setValue(std::min(done, expected > 0 ? expected : done));
        });
        QObject::connect(&runner, &PreflightRunner::finished, &wait, [&](const Preflight::Result& r) {
            result = r;
            wait.quit();
        });
        QObject::connect(&progress, &QProgressDialog::canceled, &wait, &QEventLoop::quit);
        progress.show();
        wait.exec();
        if (!result)
            return false; // cancelled: nothing starts, "Записать" is pressed again when wanted
    }
    if (result->clean())
        return true;
    return Platform::askYesNo(owner, question(*result), QStringLiteral("Внимание!"));
}

} // namespace BatchAhead
