// The preview of the batch ahead, from the write tab and the menu "Файл".
#include "app/previewwindow.h"
#include "app/tform1.h"
#include "ui_TForm1.h"

#include <QAction>
#include <QPushButton>

void TForm1::showPreview()
{
    if (!m_preview) {
        m_preview = new PreviewWindow(
            this, m_session, [this] { return m_session.trackChoice(); },
            [this] { return workFile(QStringLiteral("journal.csv")); },
            [this] { return m_session.cardsLeftInBatch(); });
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
    auto* action = new QAction(QStringLiteral("Просмотр партии…"), this);
    action->setObjectName(QStringLiteral("PreviewAction"));
    ui->N1->insertAction(ui->N1->actions().value(3), action); // after the job's three, before "Выход"
}
