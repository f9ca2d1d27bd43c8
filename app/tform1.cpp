#include "app/tform1.h"

#include "app/lookandfeel.h"
#include "app/messages.h"
#include "app/portchoice.h"
#include "app/settingsfile.h"
#include "app/tform2.h"
#include "app/tform3.h"
#include "app/tform4.h"
#include "app/tform6.h"
#include "app/tracktextvalidator.h"
#include "app/verifypanel.h"
#include "link/commandset.h"
#include "link/comport.h"
#include "ui_TForm1.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QStyle>

namespace {

struct Hint
{
    const char* button;
    const char* text;
};

// Shown when the pointer first rests on a button. The multi-line hints break with
// a line feed, which is how a Qt tooltip starts a new line.
constexpr Hint Hints[] = {
    {"SpeedButton3", "Читать карточку"},
    {"SpeedButton4", "Остановить чтение карточек"},
    {"SpeedButton5", "Записать карточку"},
    {"SpeedButton9", "Остановить запись карточек"},
    {"SpeedButton11", "Строка для записи\nна 1 дорожку"},
    {"SpeedButton12", "Строка для записи\nна 2 дорожку"},
    {"SpeedButton13", "Строка для записи\nна 3 дорожку"},
    {"SpeedButton6", "Сменить COM порт"},
    {"SpeedButton18", "О программе"},
    {"SpeedButton8", "Выход"},
};

} // namespace

TForm1::TForm1(ComPort& port, BatchSession& session)
    : ui(new Ui::TForm1), m_port(port), m_session(session)
{
    ui->setupUi(this);
    m_session.setWorkDir(QFileInfo(m_settings.path()).absolutePath());
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(500);
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(500);
    setUpButtons();
    connectHandlers();
    setUpPreview();
    // Edit1KeyPress .. Edit3KeyPress: typed and pasted text alike.
    for (int track = 1; track <= 3; ++track)
        trackEdit(track)->setValidator(new TrackTextValidator([track] { return track; }, trackEdit(track)));
    setUpPortStatus();
    setUpVerification();
    adjustSize();
    fitWindow();
}

// The window keeps its size; it grows by the verification panel while that is shown.
void TForm1::fitWindow()
{
    const bool panel = m_verify->isOn() && ui->TabbedNotebook1->currentIndex() == 0;
    m_verify->setGeometry(0, 302, 586, VerifyPanel::PanelHeight);
    m_verify->setVisible(panel);
    setFixedSize(586, 302 + (panel ? VerifyPanel::PanelHeight : 0) + ui->MainMenu1->sizeHint().height()
                          + statusBar()->sizeHint().height());
}

void TForm1::setUpVerification()
{
    m_verify = new VerifyPanel(ui->centralwidget, ui->TabSheet1,
                               {[this] { return workFile(QStringLiteral("journal.csv")); }, [this] { return m_session.openJobName(); }});
    connect(m_verify, &VerifyPanel::switched, this, [this] { fitWindow(); });
    connect(ui->TabbedNotebook1, &QTabWidget::currentChanged, this, [this] { fitWindow(); });
    m_readsStatus = new QLabel(statusBar());
    m_readsStatus->setObjectName(QStringLiteral("ReadsStatusLabel"));
    m_readsStatus->setMaximumWidth(360);
    m_readsStatus->setStyleSheet(QStringLiteral("QLabel { color: #b3261e; }"));
    statusBar()->addPermanentWidget(m_readsStatus);
    m_readsStatus->hide();
}

// Beside config.rwc, in the working directory: the job, the journal, the reads file.
QString TForm1::workFile(const QString& name) const
{
    return QFileInfo(m_settings.path()).absoluteDir().filePath(name);
}

// The card just shown goes to the reads file, checked against the journal when
// verification is on. A file that cannot be written is told once in the status
// line, and reading goes on.
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
    const QString path = workFile(QStringLiteral("reads.csv"));
    if (!m_reads || m_reads->path() != path)
        m_reads = std::make_unique<ReadsFile>(path);
    const QString problem =
        m_reads->append({{}, m_form2->trackChoiceText(), shown.track1, shown.track2, shown.track3, outcome});
    if (!problem.isEmpty()) {
        m_readsStatus->setToolTip(problem);
        m_readsStatus->setAccessibleDescription(problem);
        m_readsStatus->setText(m_readsStatus->fontMetrics().elidedText(problem, Qt::ElideRight, 350));
        m_readsStatus->show();
    } else if (!m_reads->failing()) {
        m_readsStatus->hide();
        m_readsStatus->clear();
    }
}

void TForm1::setForms(TForm2* form2, TForm3* form3, TForm4* form4, TForm6* form6)
{
    m_form2 = form2;
    m_form3 = form3;
    m_form4 = form4;
    m_form6 = form6;
    connectJobHandlers();
    watchPortDialog();
    connect(m_form4, &TForm4::portOpened, this, [this] { m_settings.portChosen(); });
    // The workbook's file is checked once a write tick; a tick skips while it is read again.
    m_form3->ExcelApplication1.setFileCheck(TExcelApplication::FileCheck::WhenAsked);
}

void TForm1::setSettingsPath(const QString& path)
{
    m_settings.setPath(path);
    m_session.setWorkDir(QFileInfo(path).absolutePath());
}

void TForm1::setUpButtons()
{
    const struct
    {
        QAbstractButton* button;
        QStyle::StandardPixmap picture;
    } pictures[] = {
        {ui->SpeedButton3, QStyle::SP_MediaPlay},         {ui->SpeedButton4, QStyle::SP_MediaStop},
        {ui->SpeedButton5, QStyle::SP_DialogSaveButton},  {ui->SpeedButton9, QStyle::SP_MediaStop},
        {ui->SpeedButton11, QStyle::SP_FileDialogDetailedView}, {ui->SpeedButton12, QStyle::SP_FileDialogDetailedView},
        {ui->SpeedButton13, QStyle::SP_FileDialogDetailedView}, {ui->SpeedButton6, QStyle::SP_ComputerIcon},
        {ui->SpeedButton18, QStyle::SP_MessageBoxInformation},  {ui->SpeedButton8, QStyle::SP_DialogCloseButton},
    };
    for (const auto& p : pictures)
        p.button->setIcon(style()->standardIcon(p.picture));
    for (const Hint& hint : Hints) {
        auto* button = findChild<QAbstractButton*>(QLatin1String(hint.button));
        button->installEventFilter(this);
        button->setAccessibleDescription(QString::fromUtf8(hint.text));
    }
    ui->SpeedButton6->setAccessibleName(QStringLiteral("Сменить COM порт"));
    setWindowIcon(LookAndFeel::appIcon());
    // Track 1 text is upper case however it gets into the edit.
    connect(ui->Edit1, &QLineEdit::textChanged, this, [this](const QString& text) {
        const QString upper = text.toUpper();
        if (upper != text)
            ui->Edit1->setText(upper);
    });
}

void TForm1::connectHandlers()
{
    const auto guard = [this](void (TForm1::*handler)()) { return Platform::guardedSlot(this, handler); };
    connect(ui->SpeedButton3, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton3Click));
    connect(ui->SpeedButton4, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton4Click));
    connect(ui->SpeedButton5, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton5Click));
    connect(ui->SpeedButton9, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton9Click));
    connect(ui->SpeedButton11, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton11Click));
    connect(ui->SpeedButton12, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton12Click));
    connect(ui->SpeedButton13, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton13Click));
    connect(ui->SpeedButton6, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton6Click));
    connect(ui->SpeedButton8, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton8Click));
    connect(ui->SpeedButton18, &QAbstractButton::clicked, this, guard(&TForm1::SpeedButton18Click));
    connect(ui->N2, &QAction::triggered, this, guard(&TForm1::N2Click));
    connect(ui->N5, &QAction::triggered, this, guard(&TForm1::N5Click));
    // A box changed by the program runs its click handling too, as a click would.
    connect(ui->CheckBox1, &QCheckBox::toggled, this, guard(&TForm1::CheckBox1Click));
    connect(ui->CheckBox2, &QCheckBox::toggled, this, guard(&TForm1::CheckBox2Click));
    connect(ui->CheckBox3, &QCheckBox::toggled, this, guard(&TForm1::CheckBox3Click));
    connect(ui->CheckBox4, &QCheckBox::toggled, this, guard(&TForm1::CheckBox4Click));
    connect(ui->CheckBox5, &QCheckBox::toggled, this, guard(&TForm1::CheckBox5Click));
    connect(ui->CheckBox6, &QCheckBox::toggled, this, guard(&TForm1::CheckBox6Click));
    connect(&Timer1, &QTimer::timeout, this, guard(&TForm1::Timer1Timer));
    connect(&Timer2, &QTimer::timeout, this, guard(&TForm1::Timer2Timer));
    connect(ui->TabbedNotebook1, &QTabWidget::currentChanged, this, [this](int page) {
        const int leaving = m_commandPage;
        Platform::guarded(this, [this, leaving] { TabbedNotebook1Change(leaving); });
        m_commandPage = page;
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Enter) {
        if (auto* button = qobject_cast<QAbstractButton*>(watched); button && button->toolTip().isEmpty())
            button->setToolTip(button->accessibleDescription());
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    QMetaObject::invokeMethod(this, [this] { Platform::guarded(this, [this] { FormShow(); }); }, Qt::QueuedConnection);
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
        QMetaObject::invokeMethod(this, [this] { setWindowState(Qt::WindowNoState); }, Qt::QueuedConnection);
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
    const auto s = CommandSet::selectTracks(ui->CheckBox1->isChecked(), ui->CheckBox2->isChecked(),
                                            ui->CheckBox3->isChecked());
    if (s.choice)
        m_form2->setTrackChoice(*s.choice);
    if (s.turnTrack2On)
        ui->CheckBox2->setChecked(true);
    ui->SpeedButton3->setEnabled(s.startEnabled);
    sendStop();
}

void TForm1::SelectWriteTracks()
{
    const auto s = CommandSet::selectTracks(ui->CheckBox4->isChecked(), ui->CheckBox5->isChecked(),
                                            ui->CheckBox6->isChecked());
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
    case 1: return ui->Edit1;
    case 2: return ui->Edit2;
    case 3: return ui->Edit3;
    default: return nullptr;
    }
}

void TForm1::setTrackText(int track, const QString& text)
{
    if (QLineEdit* edit = trackEdit(track))
        TrackTextValidator::setTextAsIs(edit, track == 1 ? text.toUpper() : text);
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
