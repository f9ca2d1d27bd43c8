// The program with a scripted operator, for the tests that kill it: it starts
// as the program does in its working directory (the port from config.rwc, the
// job reopened), then goes to the write tab and presses "Записать", and runs
// until it is killed. Message boxes are printed instead of shown, one line
// each ("box <title>: <text>"), so nothing waits for a hand.
// With the argument "read" it ticks all three tracks on the read tab, presses
// "Читать" instead, and prints each card the tab shows ("card T1|T2|T3").

#include "app/application.h"
#include "app/lookandfeel.h"
#include "app/messages.h"
#include "app/tform1.h"
#include "link/systemserialdevice.h"
#include "ui_TForm1.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <cstdio>
#include <utility>

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
    Application program(systemSerialDeviceFactory());
    TForm1* form1 = program.form1.get();
    form1->show();
    if (argc > 1 && qstrcmp(argv[1], "read") == 0) {
        QMetaObject::invokeMethod(
            form1,
            [form1] {
                for (QCheckBox* box : {form1->ui->CheckBox1, form1->ui->CheckBox2, form1->ui->CheckBox3})
                    box->setChecked(true);
                form1->ui->SpeedButton3->click();
                say(QStringLiteral("reading"));
            },
            Qt::QueuedConnection);
        // A card fills the three boxes in one tick; the line is printed once the tick is over.
        for (QLineEdit* edit : {form1->ui->Edit4, form1->ui->Edit5, form1->ui->Edit6}) {
            QObject::connect(edit, &QLineEdit::textChanged, form1, [form1] {
                static bool queued = false;
                if (std::exchange(queued, true))
                    return;
                QMetaObject::invokeMethod(
                    form1,
                    [form1] {
                        queued = false;
                        if (!form1->ui->Edit4->text().isEmpty())
                            say(QStringLiteral("card %1|%2|%3")
                                    .arg(form1->ui->Edit4->text(), form1->ui->Edit5->text(), form1->ui->Edit6->text()));
                    },
                    Qt::QueuedConnection);
            });
        }
        return app.exec();
    }
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
