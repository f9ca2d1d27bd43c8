#include "app/tform2.h"

#include "app/messages.h"
#include "app/tform1.h"
#include "link/commandset.h"
#include "link/comport.h"
#include "ui_TForm2.h"

TForm2::TForm2(ComPort& port, TForm1* mainWindow) : QDialog(mainWindow), ui(new Ui::TForm2), m_port(port), m_main(mainWindow)
{
    ui->setupUi(this);
    setFixedSize(376, 127);
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(QStringLiteral("Неисвестный"));
    ui->ComboBox2->addItems(CommandSet::trackChoiceTexts());
    ui->ComboBox2->setCurrentIndex(0);
    connect(ui->Button1, &QPushButton::clicked, this, [this] { Platform::guarded(this, [this] { Button1Click(); }); });
}

TForm2::~TForm2()
{
    delete ui;
}

int TForm2::trackChoice() const
{
    return ui->ComboBox2->currentIndex();
}

QString TForm2::trackChoiceText() const
{
    return ui->ComboBox2->currentText();
}

void TForm2::setTrackChoice(int choice)
{
    ui->ComboBox2->setCurrentIndex(choice);
}

void TForm2::ApplyTrackChoice()
{
    m_main->ShowTrackChoice();
    if (m_main->commandPage() == 0)
        m_port.setReadCommand(trackChoice());
    hide();
}

void TForm2::Button1Click()
{
    ApplyTrackChoice();
}
