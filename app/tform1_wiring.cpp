// Every connection of the main window, in one place: its controls and timers,
// the batch session, and the other windows.
#include "app/messages.h"

#include "app/portstatus.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "app/tform4.h"
#include "app/verifypanel.h"
#include "link/comport.h"
#include "link/tracks_write.h"
#include "ui_TForm1.h"

#include <QPushButton>

void TForm1::connectHandlers()
{
    const auto guard = [this](void (TForm1::*handler)()) { return Platform::guardedSlot(this, handler); };
    const std::pair<QAbstractButton*, void (TForm1::*)()> buttons[] = {
        {ui->SpeedButton3, &TForm1::SpeedButton3Click},
        {ui->SpeedButton4, &TForm1::SpeedButton4Click},
        {ui->SpeedButton5, &TForm1::SpeedButton5Click},
        {ui->SpeedButton9, &TForm1::SpeedButton9Click},
        {ui->SpeedButton11, &TForm1::SpeedButton11Click},
        {ui->SpeedButton12, &TForm1::SpeedButton12Click},
        {ui->SpeedButton13, &TForm1::SpeedButton13Click},
        {ui->SpeedButton6, &TForm1::SpeedButton6Click},
        {ui->SpeedButton8, &TForm1::SpeedButton8Click},
        {ui->SpeedButton18, &TForm1::SpeedButton18Click},
        {findChild<QPushButton*>(QStringLiteral("PreviewButton")), &TForm1::showPreview},
    };
    for (const auto& [button, handler] : buttons)
        connect(button, &QAbstractButton::clicked, this, guard(handler));
    const std::pair<QAction*, void (TForm1::*)()> actions[] = {
        {ui->N2, &TForm1::N2Click}, {ui->N5, &TForm1::N5Click},
        {ui->N6, &TForm1::N6Click}, {ui->N7, &TForm1::N7Click},
        {ui->N8, &TForm1::N8Click}, {findChild<QAction*>(QStringLiteral("PreviewAction")), &TForm1::showPreview},
    };
    for (const auto& [action, handler] : actions)
        connect(action, &QAction::triggered, this, guard(handler));
    // A box changed by the program runs its click handling too, as a click would.
    const std::pair<QCheckBox*, void (TForm1::*)()> boxes[] = {
        {ui->CheckBox1, &TForm1::CheckBox1Click}, {ui->CheckBox2, &TForm1::CheckBox2Click},
        {ui->CheckBox3, &TForm1::CheckBox3Click}, {ui->CheckBox4, &TForm1::CheckBox4Click},
        {ui->CheckBox5, &TForm1::CheckBox5Click}, {ui->CheckBox6, &TForm1::CheckBox6Click},
    };
    for (const auto& [box, handler] : boxes)
        connect(box, &QCheckBox::toggled, this, guard(handler));
    connect(&Timer1, &QTimer::timeout, this, guard(&TForm1::Timer1Timer));
    connect(&Timer2, &QTimer::timeout, this, guard(&TForm1::Timer2Timer));
    connect(ui->TabbedNotebook1, &QTabWidget::currentChanged, this, [this](int page) {
        const int leaving = m_commandPage;
        Platform::guarded(this, [this, leaving] { TabbedNotebook1Change(leaving); });
        m_commandPage = page;
        fitWindow();
    });
    // Track 1 text is upper case however it gets into the edit.
    connect(ui->Edit1, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (const QString upper = Tracks_Write::asTrackTakes(1, text); upper != text)
            ui->Edit1->setText(upper);
    });
    connect(m_verify, &VerifyPanel::switched, this, [this] { fitWindow(); });
    connect(m_portStatus, &PortStatus::portLost, this,
            [this](const QString& name) { Platform::guarded(this, [this, name] { PortLost(name); }); });
    connect(&m_session, &BatchSession::jobOpened, this, &TForm1::showJobTrackChoice);
    connect(&m_session, &BatchSession::jobOpened, this, &TForm1::showBatch);
    connect(ui->BatchSizeEdit, &QLineEdit::editingFinished, this, guard(&TForm1::BatchSizeEditDone));
    // A save after an edit in the composer that fails is reported on its own; the edit stays.
    connect(&m_session, &BatchSession::saveFailed, this, [this](const QString& text) { reportLikeAnError(text); });
    connect(&m_session, &BatchSession::jobNotice, this,
            [this](const BatchSession::Notice& notice) { showNotices({notice}); });
}

void TForm1::connectForms()
{
    connect(m_form2, &TForm2::trackChoiceApplied, this, &TForm1::trackChoiceApplied);
    connect(m_form4, &TForm4::portOpened, m_portStatus, &PortStatus::portOpened);
    connect(m_form4, &TForm4::portNotOpened, m_portStatus, &PortStatus::portNotOpened);
    connect(m_form4, &TForm4::portOpened, this, [this] { m_settings.portChosen(); });
}

// The read-settings dialog applied the track choice: the labels show it and, on
// the read tab, its read command goes into SendBuffer.
void TForm1::trackChoiceApplied()
{
    ShowTrackChoice();
    if (m_commandPage == 0)
        m_port.setReadCommand(m_session.trackChoice());
}
