#include "app/tform3.h"

#include "app/filedialogs.h"
#include "app/keyboardlayout.h"
#include "app/messages.h"
#include "app/tracktextvalidator.h"
#include "base/error.h"
#include "writing/batchsession.h"

#include "ui_TForm3.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QStyle>

namespace {

constexpr int SlotWidth = 44;
constexpr int SlotHeight = 21;

} // namespace

TForm3::TForm3(BatchSession& session, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), ExcelApplication1(session.workbook()), m_session(session),
      ui(new Ui::TForm3)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("TForm3"));
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(100);
    configureControls();
    connectHandlers();
}

TForm3::~TForm3()
{
    // The edit outlives this object's members by a moment; its validator asks them for the track.
    ui->Edit1->setValidator(nullptr);
    delete ui;
}

void TForm3::configureControls()
{
    // The layout is given in pixels, so the font is sized in pixels too: it
    // then fits whatever the screen's dots per inch.
    QFont dialogFont(QStringLiteral("Liberation Sans"));
    dialogFont.setPixelSize(11);
    setFont(dialogFont);
    QFont letterFont = ui->Label12->font();
    letterFont.setPixelSize(13);
    letterFont.setBold(true);
    ui->Label12->setFont(letterFont);
    setFixedSize(427, 238);

    for (int track = 1; track <= 3; ++track) {
        QTableWidget* slots = grid(track);
        slots->setRowCount(1);
        slots->setColumnCount(SlotCount);
        slots->horizontalHeader()->hide();
        slots->verticalHeader()->hide();
        slots->horizontalHeader()->setDefaultSectionSize(SlotWidth);
        slots->verticalHeader()->setDefaultSectionSize(SlotHeight);
        for (int slot = 0; slot < SlotCount; ++slot)
            slots->setItem(0, slot, new QTableWidgetItem);
        slots->setCurrentCell(0, 0);
        slots->setVisible(track == 1);
    }
    ui->SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    // Edit1KeyPress: typed and pasted text alike, by the track the dialog edits.
    ui->Edit1->setValidator(new TrackTextValidator([this] { return visibleTrack(); }, ui->Edit1));
    // No button is the default one: Enter in the text edit adds nothing.
    for (QPushButton* button : {ui->Button1, ui->Button2, ui->Button3})
        button->setAutoDefault(false);
    ui->SpinEdit4->installEventFilter(this);

    const QList<QWidget*> hiddenAtStart = {ui->Label2,    ui->Label3,    ui->Label4,      ui->Label5,    ui->Label6,
                                           ui->SpinEdit1, ui->SpinEdit2, ui->SpinEdit3,   ui->SpinEdit4, ui->SpinEdit5,
                                           ui->SpinEdit6, ui->ComboBox2, ui->SpeedButton1};
    for (QWidget* control : hiddenAtStart)
        control->hide();
}

void TForm3::connectHandlers()
{
    const auto guard = [this](void (TForm3::*handler)()) { return Platform::guardedSlot(this, handler); };
    connect(ui->ComboBox1, &QComboBox::currentTextChanged, this, guard(&TForm3::ComboBox1Change));
    connect(ui->Button1, &QPushButton::clicked, this, guard(&TForm3::Button1Click));
    connect(ui->Button3, &QPushButton::clicked, this, guard(&TForm3::Button3Click));
    connect(ui->Button2, &QPushButton::clicked, this, guard(&TForm3::Button2Click));
    connect(ui->SpinEdit4, &QSpinBox::valueChanged, this, guard(&TForm3::SpinEdit4Change));
    connect(ui->SpeedButton1, &QToolButton::clicked, this, guard(&TForm3::SpeedButton1Click));
    connect(&Timer1, &QTimer::timeout, this, guard(&TForm3::Timer1Timer));
    const std::array<void (TForm3::*)(), 3> gridClick = {&TForm3::StringGrid1Click, &TForm3::StringGrid2Click,
                                                         &TForm3::StringGrid3Click};
    for (int track = 1; track <= 3; ++track) {
        // A click on the selected cell and a move by the arrow keys both load the slot.
        connect(grid(track), &QTableWidget::cellClicked, this, guard(gridClick[track - 1]));
        connect(grid(track), &QTableWidget::currentCellChanged, this, guard(gridClick[track - 1]));
    }
    connect(&m_session, &BatchSession::cardCommitted, this, &TForm3::showCommittedCard);
    connect(&m_session, &BatchSession::templatesReplaced, this, &TForm3::showReplacedTemplates);
    // A big workbook takes a moment to read; the window stays usable meanwhile.
    connect(&m_session, &BatchSession::workbookOpening, this, [this] { setCursor(Qt::BusyCursor); });
    connect(&m_session, &BatchSession::workbookSettled, this, [this] { unsetCursor(); });
    // Reported as an error of "База Excel" itself would be.
    connect(&m_session, &BatchSession::workbookNotOpened, this,
            [this](const QString& text) { Platform::guarded(this, [&text] { throw Failure(text); }); });
}

int TForm3::visibleTrack() const
{
    return m_session.templates().CurrentTrack;
}

QTableWidget* TForm3::grid(int track) const
{
    return track == 2 ? ui->StringGrid2 : track == 3 ? ui->StringGrid3 : ui->StringGrid1;
}

void TForm3::openForTrack(int track)
{
    ui->Edit1->clear();
    if (isVisible()) {
        // Opened again for another track: bring it back in front of the main window.
        raise();
        activateWindow();
    } else if (!m_placed) {
        move(screen()->availableGeometry().center() - rect().center());
        m_placed = true;
    }
    show();
    m_session.setComposerTrack(track);
    for (int t = 1; t <= 3; ++t)
        grid(t)->setVisible(t == track);
    showValue(ui->Label9, QString::number(track));
    showRemainingCapacity(track);
}

void TForm3::showTemplateState()
{
    for (int track = 1; track <= 3; ++track)
        showSlots(track);
}

void TForm3::showValue(QLabel* label, const QString& text)
{
    // The label's accessible name says what it is; a screen reader gets the value itself too.
    label->setText(text);
    label->setAccessibleDescription(text);
}

void TForm3::showSlots(int track)
{
    const TrackTemplate& t = m_session.templates().track(track);
    for (int slot = 0; slot < SlotCount; ++slot)
        grid(track)->item(0, slot)->setText(t.slotText[slot]);
}

void TForm3::showRemainingCapacity(int track)
{
    showValue(ui->Label10, QString::number(m_session.templates().remainingCapacity(track)));
}

// A card went out: its digit count and the slots moved past it.
void TForm3::showCommittedCard(int digitCount)
{
    ui->SpinEdit3->setValue(digitCount);
    showTemplateState();
}

// A job's templates took the place of the live ones; the composer keeps its track.
void TForm3::showReplacedTemplates()
{
    showTemplateState();
    const int track = visibleTrack();
    if (track >= 1 && track <= 3)
        showRemainingCapacity(track);
}

void TForm3::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Platform::guarded(this, [this] { FormShow(); });
}

void TForm3::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    Platform::guarded(this, [this] { FormHide(); });
}

bool TForm3::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != ui->SpinEdit4 || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // Only typed characters (backspace among them, as a key press has it) are dropped:
    // arrows step the column, Tab moves on, shortcuts work.
    const QChar c = key->text().isEmpty() ? QChar() : key->text().front();
    const bool typed = (c.isPrint() || c == QLatin1Char('\b')) &&
                       !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    bool pass = true;
    if (typed)
        Platform::guarded(this, [&] { pass = SpinEdit4KeyPress(c); });
    return !pass || QDialog::eventFilter(watched, event);
}

void TForm3::FormShow()
{
    ui->Label11->clear();
    Timer1.start();
    showValue(ui->Label12, TemplateRules::columnLetter(ui->SpinEdit4->value()));
}

void TForm3::FormHide()
{
    Timer1.stop();
    Platform::releaseKeyboardLayout();
}

int TForm3::selectedItem(const QComboBox* box)
{
    // The boxes take typing; a text that is none of the items selects nothing.
    return box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void TForm3::ComboBox1Change()
{
    const int kind = selectedItem(ui->ComboBox1);
    if (kind < 0)
        return;
    if (kind == 1)
        ui->Label2->setText(QStringLiteral(" + "));
    else if (kind == 2)
        ui->Label2->setText(QStringLiteral(" - "));
    const bool counter = kind == 1 || kind == 2;
    const bool excel = kind == 3;
    ui->Edit1->setVisible(kind == 0);
    for (QWidget* control : {static_cast<QWidget*>(ui->Label3), static_cast<QWidget*>(ui->SpinEdit1),
                             static_cast<QWidget*>(ui->Label2), static_cast<QWidget*>(ui->SpinEdit2),
                             static_cast<QWidget*>(ui->Label4), static_cast<QWidget*>(ui->SpinEdit3)})
        control->setVisible(counter);
    for (QWidget* control :
         {static_cast<QWidget*>(ui->Label5), static_cast<QWidget*>(ui->SpinEdit4), static_cast<QWidget*>(ui->Label6),
          static_cast<QWidget*>(ui->SpinEdit5), static_cast<QWidget*>(ui->ComboBox2),
          static_cast<QWidget*>(ui->SpinEdit6), static_cast<QWidget*>(ui->SpeedButton1)})
        control->setVisible(excel);
}

AddRequest TForm3::addRequest() const
{
    AddRequest request;
    request.kindItem = selectedItem(ui->ComboBox1);
    request.text = ui->Edit1->text();
    request.counterStart = ui->SpinEdit1->value();
    request.counterStep = ui->SpinEdit2->value();
    request.digitCount = ui->SpinEdit3->value();
    request.excelColumn = ui->SpinEdit4->value();
    request.excelRow = ui->SpinEdit5->value();
    request.excelDirectionItem = selectedItem(ui->ComboBox2);
    request.excelStep = ui->SpinEdit6->value();
    return request;
}

void TForm3::Button1Click()
{
    const int track = visibleTrack();
    if (track < 1 || track > 3)
        return;
    const int slot = std::max(0, grid(track)->currentColumn());
    AddOutcome outcome = AddOutcome::Done;
    try {
        outcome = m_session.addSlot(track, slot, addRequest());
    } catch (...) {
        // What Add did before the read failed stays done and is shown; the
        // remaining capacity is left as it was.
        showSlots(track);
        throw;
    }
    showSlots(track);
    if (outcome == AddOutcome::NotConnected)
        Platform::errorBox(this, TemplateRules::notConnectedMessage());
    else if (outcome == AddOutcome::RowBelowOne)
        Platform::warningBox(this, TemplateRules::rowBelowOneMessage());
    showRemainingCapacity(track);
}

void TForm3::Button3Click()
{
    const int track = visibleTrack();
    if (track < 1 || track > 3)
        return;
    m_session.deleteSlot(track, std::max(0, grid(track)->currentColumn()));
    showSlots(track);
    showRemainingCapacity(track);
    ui->Label11->clear();
    ui->Edit1->clear();
}

void TForm3::Button2Click()
{
    hide();
}

void TForm3::slotClicked(int track)
{
    // The three grids share one handler; only the visible one is the operator's.
    if (track != visibleTrack())
        return;
    const int slot = grid(track)->currentColumn();
    if (slot < 0)
        return;
    const QString& text = m_session.templates().track(track).slotText[slot];
    ui->Label11->setText(text);
    TrackTextValidator::setTextAsIs(ui->Edit1, text.toUpper()); // a slot's text is shown as it is
    if (selectedItem(ui->ComboBox1) == 0)
        ui->Edit1->setFocus();
}

void TForm3::StringGrid1Click()
{
    slotClicked(1);
}

void TForm3::StringGrid2Click()
{
    slotClicked(2);
}

void TForm3::StringGrid3Click()
{
    slotClicked(3);
}

bool TForm3::SpinEdit4KeyPress(QChar)
{
    // The column changes only by stepping, so it is always one of A..Z.
    return false;
}

void TForm3::SpinEdit4Change()
{
    showValue(ui->Label12, TemplateRules::columnLetter(ui->SpinEdit4->value()));
}

void TForm3::Timer1Timer()
{
    Platform::holdUsKeyboardLayout(isActiveWindow());
}

void TForm3::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // Without waiting for the next tick: the operator types into the window just activated.
    if (event->type() == QEvent::ActivationChange && isVisible())
        Platform::holdUsKeyboardLayout(isActiveWindow());
}

QString TForm3::workbookDialogTitle()
{
    return QStringLiteral("Открыть базу Excel");
}

QString TForm3::workbookDialogFilter()
{
    return QStringLiteral("Все таблицы (*.xlsx *.xlsm *.ods *.xls *.csv);;"
                          "Книги Excel (*.xlsx *.xlsm);;"
                          "Книги Excel 97–2003 (*.xls);;"
                          "OpenDocument (*.ods);;"
                          "Текст CSV (*.csv);;"
                          "Все файлы (*)");
}

void TForm3::SpeedButton1Click()
{
    Platform::FileRequest request;
    request.title = workbookDialogTitle();
    request.filter = workbookDialogFilter();
    const QString path = Platform::chooseFile(this, request);
    m_session.chooseWorkbook(path);
}
