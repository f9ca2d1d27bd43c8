// The program with a scripted operator, for the tests that kill it: it starts
// as the program does in its working directory (the port from config.rwc, the
// job reopened), then goes to the write tab and presses "Записать", and runs
// until it is killed. Message boxes are printed instead of shown, one line
// each ("box <title>: <text>"), so nothing waits for a hand.

#include "app/application.h"
#include "app/lookandfeel.h"
#include "app/messages.h"
#include "app/tform1.h"
#include "link/qtserialdevice.h"
#include "ui_TForm1.h"

#include <QApplication>
#include <QPlainTextEdit>

#include <cstdio>

namespace {

void say(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stripewell"));
    LookAndFeel::apply(app);
    Platform::setMessageRecorder(
        [](const Platform::MessageRecord& box) { say(QStringLiteral("box %1: %2").arg(box.title, box.text)); });
    Application program(qtSerialDeviceFactory());
    TForm1* form1 = program.form1.get();
    form1->show();
    // Queued behind FormShow, which showing the window queues.
    QMetaObject::invokeMethod(
        form1,
        [form1] {
            form1->ui->TabbedNotebook1->setCurrentIndex(1);
            form1->ui->SpeedButton5->click();
            say(QStringLiteral("started ") + form1->ui->Label2->text());
        },
        Qt::QueuedConnection);
    QObject::connect(form1->ui->Memo4, &QPlainTextEdit::textChanged, form1,
                     [form1] { say(QStringLiteral("log ") + form1->ui->Memo4->toPlainText().section(QLatin1Char('\n'), -1)); });
    return app.exec();
}
