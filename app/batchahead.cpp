#include "app/batchahead.h"

#include "app/messages.h"
#include "app/previewwindow.h"
#include "link/commandset.h"
#include "writing/batchsession.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

// How long "Записать" waits for the workbook's read and the pre-flight before it shows their progress.
constexpr int QuickWaitMs = 500;
// How often the progress window looks whether the workbook has been read.
constexpr int ReadPollMs = 50;
// The problems of each kind the question names; the preview lists them all.
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

// The first few issues, one a line.
void name(QStringList& lines, const QList<Preflight::Issue>& issues)
{
    for (qsizetype i = 0; i < issues.size() && i < ProblemsNamed; ++i)
        lines << PreviewWindow::issueLine(issues[i]);
}

// The progress window while the workbook is read again and the pre-flight runs:
// `start` is called once the workbook is ready, unless `started`. Empty when cancelled.
std::optional<Preflight::Result> waitWithProgress(QWidget* owner, BatchSession& session, PreflightRunner& runner,
                                                  bool started, const std::function<void()>& start)
{
    std::optional<Preflight::Result> result;
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
    QTimer read;
    read.setInterval(ReadPollMs);
    QObject::connect(&read, &QTimer::timeout, &wait, [&] {
        if (!session.workbook().ready())
            return;
        read.stop();
        start();
    });
    if (!started)
        read.start();
    progress.show();
    wait.exec();
    return result;
}

} // namespace

namespace BatchAhead {

PreflightRunner::Request request(BatchSession& session, const QString& journalPath, int size)
{
    session.settleWorkbook(true); // "Записать" while the workbook is still being read waits for it
    TExcelApplication& excel = session.workbook();
    excel.checkFile(); // the file as it stands: the run reads what a changed file is read into
    return {session.templates(), session.trackChoice(), excel.hasWorkbook() ? excel.snapshot() : SheetSnapshot(),
            journalPath, size};
}

QString batchLine(const Preflight::Result& result)
{
    if (result.size > 0)
        return QStringLiteral("Карточек в партии: %1.").arg(result.size);
    if (result.end && result.end->kind == Preflight::Problem::EndOfData)
        return result.end->message;
    return QStringLiteral("Карточек по данным: %1.").arg(result.cards.size());
}

QString question(const Preflight::Result& result)
{
    const QList<Preflight::Issue> stops = result.stops();
    const QList<Preflight::Issue> warnings = result.warnings();
    QStringList lines{QStringLiteral("Проверка партии. ") + batchLine(result)};
    if (!stops.isEmpty()) {
        const Preflight::Issue& first = stops.first();
        lines << QString()
              << QStringLiteral("Запись остановится на карточке %1%2: %3")
                     .arg(first.card)
                     .arg(PreviewWindow::issueWhere(first), first.message)
              << QStringLiteral("До неё можно записать карточек: %1.").arg(result.cardsBeforeFirstStop());
        if (stops.size() > 1) {
            lines << QStringLiteral("Ещё проблем, на которых запись остановится: %1.").arg(stops.size() - 1);
            name(lines, stops.mid(1));
        }
    }
    if (!warnings.isEmpty()) {
        lines << QString() << QStringLiteral("Предупреждения (запись не остановится): %1.").arg(warnings.size());
        name(lines, warnings);
    }
    if (stops.size() - 1 > ProblemsNamed || warnings.size() > ProblemsNamed)
        lines << QStringLiteral("… все проблемы: «Просмотр партии».");
    lines << QString() << QStringLiteral("Начать запись?");
    return lines.join(QLatin1Char('\n'));
}

bool confirm(QWidget* owner, BatchSession& session, const QString& journalPath, int size)
{
    const TemplateSet& templates = session.templates();
    if (session.writeLoop().pendingCard() || !composesCards(templates, session.trackChoice()) ||
        !Preflight::judgedWhole(templates, session.trackChoice(), size))
        return true;
    session.settleWorkbook(true);
    QElapsedTimer clock;
    clock.start();
    TExcelApplication& excel = session.workbook();
    const bool fresh = !excel.hasWorkbook() || excel.freshWithin(QuickWaitMs);
    PreflightRunner runner;
    const auto start = [&] { runner.start(request(session, journalPath, size)); };
    std::optional<Preflight::Result> result;
    if (fresh) {
        start();
        result = runner.waitFor(std::max(0, QuickWaitMs - int(clock.elapsed())));
    }
    if (!result)
        result = waitWithProgress(owner, session, runner, fresh, start);
    if (!result)
        return false; // cancelled: nothing starts, "Записать" is pressed again when wanted
    if (result->clean())
        return true;
    return Platform::askYesNo(owner, question(*result), QStringLiteral("Внимание!"));
}

} // namespace BatchAhead
