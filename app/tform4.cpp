#include "app/tform4.h"

#include "app/platform.h"
#include "link/comport.h"
#include "ui_TForm4.h"

TForm4::TForm4(ComPort& port, QWidget* parent) : QDialog(parent), ui(new Ui::TForm4), m_port(port)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(340, 278);
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(QStringLiteral("COM1"));
    connect(ui->Button1, &QPushButton::clicked, this, [this] { Platform::guarded(this, [this] { Button1Click(); }); });
    connect(ui->Button2, &QPushButton::clicked, this, [this] { Platform::guarded(this, [this] { Button2Click(); }); });
}

TForm4::~TForm4()
{
    delete ui;
}

int TForm4::portPosition() const
{
    // A name typed over a picked entry is no longer that entry.
    const int index = ui->ComboBox1->currentIndex();
    if (index >= 0 && ui->ComboBox1->itemText(index) != ui->ComboBox1->currentText())
        return -1;
    return index;
}

void TForm4::selectPortPosition(int position)
{
    if (position >= 0 && position < ui->ComboBox1->count()) {
        ui->ComboBox1->setCurrentIndex(position);
        return;
    }
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(QString());
}

void TForm4::Button1Click()
{
    if (!m_port.ConnectPort(ui->ComboBox1->currentText())) {
        Platform::errorBox(this, QStringLiteral("Не могу открыть порт."));
        return;
    }
    Q_EMIT portConfirmed();
    hide();
}

void TForm4::Button2Click()
{
    hide();
}
