// Renders the program's windows into PNG files (for the README): the main
// window's two tabs with a read card and a write run, the port dialog, About.
#include "app/application.h"
#include "app/lookandfeel.h"
#include "app/platform.h"
#include "app/tform1.h"
#include "app/tform4.h"
#include "app/tform6.h"
#include "ui_TForm1.h"
#include "writing/tform3.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stripewell"));
    LookAndFeel::apply(app);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(out);
    // No port and no settings file here: the start-up messages would only block.
    Platform::setMessageRecorder([](const Platform::MessageRecord&) {});
    Application program([](const QString&) { return std::unique_ptr<SerialDevice>(); });
    TForm1* main = program.form1.get();
    const auto shoot = [&](QWidget* w, const char* name) {
        w->show();
        QApplication::processEvents();
        w->grab().save(out + QLatin1Char('/') + QLatin1String(name));
    };
    main->ShowTrackChoice();
    main->ui->CheckBox2->setChecked(true);
    main->ui->Edit4->setText(QStringLiteral("B4000001234567899^IVANOV/IVAN^2512101"));
    main->ui->Edit5->setText(QStringLiteral("4000001234567899'25121010000000000"));
    shoot(main, "read.png");
    main->ui->TabbedNotebook1->setCurrentIndex(1);
    main->setTrackText(1, QStringLiteral("B4000001234567899^IVANOV/IVAN^2512101"));
    main->setTrackText(2, QStringLiteral("4000001234567899=2512101"));
    main->ui->Memo4->setPlainText(QStringLiteral("1  Карточка записана\n2  Карточка НЕ записана!"));
    main->ui->Label3->setText(QStringLiteral("Записано карточек: 1"));
    shoot(main, "write.png");
    shoot(program.form4, "port.png");
    shoot(program.form6, "about.png");
    return 0;
}
