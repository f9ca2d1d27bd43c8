#include "app/tform1.h"

#include "app/lookandfeel.h"
#include "app/mainbuttons.h"
#include "app/messages.h"
#include "app/portchoice.h"
#include "app/portstatus.h"
#include "app/readslog.h"
#include "app/settingsfile.h"
#include "app/tform2.h"
#include "app/tform3.h"
#include "app/tform4.h"
#include "app/tform6.h"
#include "app/tracktextvalidator.h"
#include "app/verifypanel.h"
#include "link/commandset.h"
#include "link/comport.h"
#include "link/tracks_write.h"
#include "ui_TForm1.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QStatusBar>

TForm1::TForm1(ComPort& port, BatchSession& session) : ui(new Ui::TForm1), m_port(port), m_session(session)
{
    ui->setupUi(this);
    m_session.setWorkDir(QFileInfo(m_settings.path()).absolutePath());
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(500);
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(500);
    MainButtons::dress(this);
    setWindowIcon(LookAndFeel::appIcon());
    setUpPreview();
    // Edit1KeyPress .. Edit3KeyPress: typed and pasted text alike.
    for (int track = 1; track <= 3; ++track)
        trackEdit(track)->setValidator(new TrackTextValidator([track] { return track; }, trackEdit(track)));
    m_portStatus = new PortStatus(m_port, statusBar());
    m_verify = new VerifyPanel(
        ui->centralwidget, ui->TabSheet1,
        {[this] { return workFile(QStringLiteral("journal.csv")); }, [this] { return m_session.openJobName(); }});
    m_readsLog = new ReadsLog(statusBar());
#ifdef STRIPEWELL_SHARED_BATCHES
    setUpSharedBatches();
#endif
    connectHandlers();
    adjustSize();
    fitWindow();
}

// The window keeps its size; it grows by the verification panel while that is shown.
void TForm1::fitWindow()
{
    const bool panel = m_verify->isOn() && ui->TabbedNotebook1->currentIndex() == 0;
    m_verify->setGeometry(0, 302, 586, VerifyPanel::PanelHeight);
    m_verify->setVisible(panel);
    setFixedSize(586, 302 + (panel ? VerifyPanel::PanelHeight : 0) + ui->MainMenu1->sizeHint().height() +
                          statusBar()->sizeHint().height());
}

// Beside config.rwc, in the working directory: the job, the journal, the reads file.
QString TForm1::workFile(const QString& name) const
{
    return QFileInfo(m_settings.path()).absoluteDir().filePath(name);
}

// The card just shown goes to the reads file, checked against the journal when
// verification is on.
void TForm1::keepCardRead(const ReadLoop::Card& card)
{
    JournalIndex::Texts shown;
    if (card.track1)
        shown.track1 = ui->Edit4->text();
    if (card.track2)
        shown.track2 = ui->Edit5->text();
    if (card.track3)
        shown.track3 = ui->Edit6->text();
    const QString outcome = m_verify->check(m_readLoop.choice(), shown);
    m_readsLog->append(workFile(QStringLiteral("reads.csv")),
                       {{}, m_form2->trackChoiceText(), shown.track1, shown.track2, shown.track3, outcome});
}

void TForm1::setForms(TForm2* form2, TForm3* form3, TForm4* form4, TForm6* form6)
{
    m_form2 = form2;
    m_form3 = form3;
    m_form4 = form4;
    m_form6 = form6;
    connectForms();
    // The workbook's file is checked once a write tick; a tick skips while it is read again.
    m_form3->ExcelApplication1.setFileCheck(TExcelApplication::FileCheck::WhenAsked);
}

void TForm1::setSettingsPath(const QString& path)
{
    m_settings.setPath(path);
    m_session.setWorkDir(QFileInfo(path).absolutePath());
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    QMetaObject::invokeMethod(
        this, [this] { Platform::guarded(this, [this] { FormShow(); }); }, Qt::QueuedConnection);
}

void TForm1::FormShow()
{
    reopenJob();
    const SettingsFile::PortSetting setting = m_settings.load();
    m_form4->selectPortPosition(setting.position, setting.deviceName);
    m_port.setDefaultReadCommand();
    ShowTrackChoice();
    m_form4->Button1Click();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The operator must always be able to quit: a settings file that cannot be
    // written is reported, and the program closes all the same.
    Platform::guarded(this, [this] { FormClose(); });
    event->accept();
}

void TForm1::FormClose()
{
    Timer1.stop();
    Timer2.stop();
    sendStop();
    // A job that cannot be saved is reported on its own and does not keep the settings file from being written.
    Platform::guarded(this, [this] { saveJobAtClose(); });
    // A file that could not be read keeps its port unless the operator chose one since. A device
    // past "COM8" is remembered by its name on a second line.
    const int position = m_form4->portPosition();
    m_settings.save({position, position >= PortChoice::FirstDevicePosition ? m_form4->portName() : QString()});
}

void TForm1::changeEvent(QEvent* event)
{
    // FormCanResize: the window keeps its size; maximizing is undone.
    if (event->type() == QEvent::WindowStateChange && (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        QMetaObject::invokeMethod(
            this, [this] { setWindowState(Qt::WindowNoState); }, Qt::QueuedConnection);
    QMainWindow::changeEvent(event);
}

void TForm1::sendStop()
{
    m_port.sendStop();
    m_readLoop.forgetReply();
}

// Sends the stop command and ends a run of cards, if one is going on.
void TForm1::endWriteRun()
{
    m_readLoop.forgetReply();
    Timer2.stop();
    showStep(m_session.stopRun());
}

void TForm1::ShowTrackChoice()
{
    const int choice = m_session.trackChoice();
    const QString text = m_form2->trackChoiceText();
    ui->Label1->setText(QStringLiteral("Чтение: ") + text);
    ui->Label2->setText(QStringLiteral("Запись: ") + text);
    ui->GroupBox4->setEnabled(CommandSet::choiceCarries(choice, 1));
    ui->GroupBox5->setEnabled(CommandSet::choiceCarries(choice, 2));
    ui->GroupBox6->setEnabled(CommandSet::choiceCarries(choice, 3));
}

void TForm1::SelectReadTracks()
{
    const auto s =
        CommandSet::selectTracks(ui->CheckBox1->isChecked(), ui->CheckBox2->isChecked(), ui->CheckBox3->isChecked());
    if (s.choice)
        m_form2->setTrackChoice(*s.choice);
    if (s.turnTrack2On)
        ui->CheckBox2->setChecked(true);
    ui->SpeedButton3->setEnabled(s.startEnabled);
    sendStop();
}

void TForm1::SelectWriteTracks()
{
    const auto s =
        CommandSet::selectTracks(ui->CheckBox4->isChecked(), ui->CheckBox5->isChecked(), ui->CheckBox6->isChecked());
    if (s.choice)
        m_session.setTrackChoice(*s.choice);
    if (s.turnTrack2On)
        ui->CheckBox5->setChecked(true);
    ui->SpeedButton5->setEnabled(s.startEnabled);
    endWriteRun();
}

void TForm1::TabbedNotebook1Change(int leavingPage)
{
    if (leavingPage == 0) {
        // Reading and writing share the port: a poll left running would take the write loop's answers.
        Timer1.stop();
        m_port.setDefaultReadCommand();
        ui->CheckBox4->setChecked(ui->CheckBox1->isChecked());
        ui->CheckBox5->setChecked(ui->CheckBox2->isChecked());
        ui->CheckBox6->setChecked(ui->CheckBox3->isChecked());
        SelectWriteTracks();
        return;
    }
    endWriteRun();
    ui->SpeedButton5->setEnabled(true);
    ui->Edit4->clear();
    ui->Edit5->clear();
    ui->Edit6->clear();
    ui->CheckBox1->setChecked(ui->CheckBox4->isChecked());
    ui->CheckBox2->setChecked(ui->CheckBox5->isChecked());
    ui->CheckBox3->setChecked(ui->CheckBox6->isChecked());
    SelectReadTracks();
}

void TForm1::SpeedButton3Click()
{
    Timer1.stop();
    m_form2->ApplyTrackChoice();
    m_readLoop.start(m_port, m_form2->trackChoice());
    Timer1.start();
    ui->Edit4->clear();
    ui->Edit5->clear();
    ui->Edit6->clear();
}

void TForm1::SpeedButton4Click()
{
    Timer1.stop();
    m_readLoop.stop(m_port);
}

void TForm1::Timer1Timer()
{
    m_readLoop.setChoice(m_form2->trackChoice());
    const std::optional<ReadLoop::Card> card = m_readLoop.poll(m_port, m_port.nowMs());
    if (!card)
        return;
    ShowTrackChoice();
    if (card->clearAll) {
        ui->Edit6->clear();
        ui->Edit5->clear();
        ui->Edit4->clear();
    }
    if (card->track1)
        ui->Edit4->setText(*card->track1);
    if (card->track2)
        ui->Edit5->setText(*card->track2);
    if (card->track3)
        ui->Edit6->setText(*card->track3);
    keepCardRead(*card);
}

void TForm1::CheckBox1Click()
{
    SelectReadTracks();
    m_form2->ApplyTrackChoice();
}

void TForm1::CheckBox2Click()
{
    SelectReadTracks();
    m_form2->ApplyTrackChoice();
}

void TForm1::CheckBox3Click()
{
    SelectReadTracks();
    m_form2->ApplyTrackChoice();
}

void TForm1::CheckBox4Click()
{
    SelectWriteTracks();
    m_form2->ApplyTrackChoice();
}

void TForm1::CheckBox5Click()
{
    SelectWriteTracks();
    m_form2->ApplyTrackChoice();
}

void TForm1::CheckBox6Click()
{
    SelectWriteTracks();
    m_form2->ApplyTrackChoice();
}

QLineEdit* TForm1::trackEdit(int track) const
{
    switch (track) {
    case 1:
        return ui->Edit1;
    case 2:
        return ui->Edit2;
    case 3:
        return ui->Edit3;
    default:
        return nullptr;
    }
}

void TForm1::setTrackText(int track, const QString& text)
{
    if (QLineEdit* edit = trackEdit(track))
        TrackTextValidator::setTextAsIs(edit, Tracks_Write::asTrackTakes(track, text));
}

void TForm1::N2Click()
{
    close();
}

void TForm1::SpeedButton8Click()
{
    close();
}

void TForm1::N5Click()
{
    m_form6->show();
    m_form6->raise();
}

void TForm1::SpeedButton18Click()
{
    N5Click();
}

void TForm1::SpeedButton6Click()
{
    m_form4->show();
    m_form4->raise();
}
