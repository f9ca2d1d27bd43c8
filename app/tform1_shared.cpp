// The menu "Файл" → "Общая партия": publish the batch ahead to the bureau's
// database, join a batch of it, watch it, leave it. Linux builds with the database room.
#include "app/batchahead.h"
#include "app/batchview.h"
#include "app/filedialogs.h"
#include "app/joindialog.h"
#include "app/messages.h"
#include "app/publishcards.h"
#include "app/publishdialog.h"
#include "app/stationlink.h"
#include "app/tform1.h"
#include "ui_TForm1.h"

#include "writing/batchsession.h"
#include "writing/preflight.h"

#include <QAction>
#include <QMenu>

void TForm1::setUpSharedBatches()
{
    auto* menu = new QMenu(QStringLiteral("Общая партия"), this);
    menu->setObjectName(QStringLiteral("SharedMenu"));
    const std::pair<const char*, void (TForm1::*)()> items[] = {
        {"Опубликовать партию…", &TForm1::publishBatch},
        {"Подключиться к партии…", &TForm1::joinBatch},
        {"Партия в базе…", &TForm1::viewBatch},
        {"Отключиться от партии", &TForm1::leaveBatch},
    };
    for (const auto& [text, handler] : items) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        connect(action, &QAction::triggered, this, Platform::guardedSlot(this, handler));
    }
    // After "Просмотр партии…", before "Выход".
    ui->N1->insertMenu(ui->N1->actions().value(4), menu);
    // The cards of a joined batch, and the database's state in the status line.
    new StationLink(m_session, statusBar(),
                    [this](qint64 batch) { return workFile(QStringLiteral("outbox-%1.json").arg(batch)); });
}

// Every card of the batch ahead, as the pre-flight composes it, published as one batch.
void TForm1::publishBatch()
{
    if (m_session.shared())
        return Platform::warningBox(this, QStringLiteral("Задание подключено к общей партии: её карточки уже в базе."));
    PreflightRunner::Request r =
        BatchAhead::request(m_session, workFile(QStringLiteral("journal.csv")), m_session.cardsLeftInBatch());
    const Preflight::Result result = Preflight::run({r.templates, r.choice, {}, r.sheet.lastRow(), r.size}, r.sheet);
    QString refusal;
    const auto cards = cardsToPublish(result, &refusal);
    if (!cards)
        return Platform::warningBox(this, refusal);
    PublishDialog dialog(*cards, m_session.trackChoice(), this);
    dialog.exec();
}

void TForm1::joinBatch()
{
    if (m_session.writeLoop().running())
        return Platform::warningBox(this, QStringLiteral("Остановите запись, чтобы подключиться к партии."));
    JoinDialog dialog(this);
    if (m_session.shared())
        dialog.setConnection(m_session.shared()->connection);
    if (dialog.exec() != QDialog::Accepted || !dialog.selection())
        return;
    const JoinChoice chosen = *dialog.selection();
    m_session.joinShared({chosen.connection, chosen.batchId, chosen.name}, chosen.choice);
    showJobTrackChoice(chosen.choice);
}

void TForm1::viewBatch()
{
    const auto& shared = m_session.shared();
    if (!shared)
        return Platform::warningBox(this, QStringLiteral("Задание не подключено к общей партии."));
    auto* view = new BatchView(shared->connection, shared->batch, this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setHooks({[](QWidget* owner, const QString& question) {
                        return Platform::askYesNo(owner, question, QStringLiteral("Внимание!"));
                    },
                    [](QWidget* owner) {
                        return Platform::chooseFile(owner, {Platform::FileRequest::Mode::Save,
                                                            QStringLiteral("Сохранить партию в CSV"), QString(),
                                                            QStringLiteral("CSV (*.csv)"), QStringLiteral("csv")});
                    }});
    view->show();
}

void TForm1::leaveBatch()
{
    if (m_session.writeLoop().running())
        return Platform::warningBox(this, QStringLiteral("Остановите запись, чтобы отключиться от партии."));
    m_session.leaveShared();
}
