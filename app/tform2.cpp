#include "app/tform2.h"

#include "app/messages.h"
#include "link/commandset.h"
#include "ui_TForm2.h"
#include "writing/batchsession.h"

TForm2::TForm2(BatchSession& session, QWidget* parent) : QDialog(parent), ui(new Ui::TForm2), m_session(session)
{
    ui->setupUi(this);
    setFixedSize(376, 127);
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(QStringLiteral("Неисвестный"));
    ui->ComboBox2->addItems(CommandSet::trackChoiceTexts());
    ui->ComboBox2->setCurrentIndex(m_session.trackChoice());
    // The list shows the session's choice; a pick in it is the operator's choice.
    connect(&m_session, &BatchSession::trackChoiceChanged, ui->ComboBox2, &QComboBox::setCurrentIndex);
    connect(ui->ComboBox2, &QComboBox::activated, &m_session, &BatchSession::setTrackChoice);
    connect(ui->Button1, &QPushButton::clicked, this, [this] { Platform::guarded(this, [this] { Button1Click(); }); });
}

TForm2::~TForm2()
{
    delete ui;
}

int TForm2::trackChoice() const
{
    return m_session.trackChoice();
}

QString TForm2::trackChoiceText() const
{
    return ui->ComboBox2->currentText();
}

void TForm2::setTrackChoice(int choice)
{
    m_session.setTrackChoice(choice);
}

void TForm2::ApplyTrackChoice()
{
    Q_EMIT trackChoiceApplied();
    hide();
}

void TForm2::Button1Click()
{
    ApplyTrackChoice();
}
