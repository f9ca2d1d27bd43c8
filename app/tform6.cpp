#include "app/tform6.h"

#include "app/lookandfeel.h"
#include "app/messages.h"
#include "app/shell.h"
#include "ui_TForm6.h"

#include <QMouseEvent>
#include <QUrl>

QString TForm6::webAddress()
{
    return QStringLiteral("http://example.com/");
}

TForm6::TForm6(QWidget* parent) : QDialog(parent), ui(new Ui::TForm6)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(277, 278);
    move(352, 188);
    ui->Image1->setPixmap(LookAndFeel::appIcon().pixmap(32, 32));
    ui->Label9->setText(QUrl(webAddress()).host());
    ui->Label9->installEventFilter(this);
    connect(ui->Button1, &QPushButton::clicked, this, [this] { Platform::guarded(this, [this] { Button1Click(); }); });
}

TForm6::~TForm6()
{
    delete ui;
}

void TForm6::Button1Click()
{
    hide();
}

void TForm6::Label9Click()
{
    Platform::openUrl(webAddress());
}

bool TForm6::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->Label9 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Platform::guarded(this, [this] { Label9Click(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
