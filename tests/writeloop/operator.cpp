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
#include "controls.h"
#include "link/systemserialdevice.h"

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
                for (QCheckBox* box : {control<QCheckBox>(form1, "CheckBox1"), control<QCheckBox>(form1, "CheckBox2"),
                                       control<QCheckBox>(form1, "CheckBox3")})
                    box->setChecked(true);
                control<QPushButton>(form1, "SpeedButton3")->click();
                say(QStringLiteral("reading"));
            },
            Qt::QueuedConnection);
        // A card fills the three boxes in one tick; the line is printed once the tick is over.
        for (QLineEdit* edit : {control<QLineEdit>(form1, "Edit4"), control<QLineEdit>(form1, "Edit5"),
                                control<QLineEdit>(form1, "Edit6")}) {
            QObject::connect(edit, &QLineEdit::textChanged, form1, [form1] {
                static bool queued = false;
                if (std::exchange(queued, true))
                    return;
                QMetaObject::invokeMethod(
                    form1,
                    [form1] {
                        queued = false;
                        if (!control<QLineEdit>(form1, "Edit4")->text().isEmpty())
                            say(QStringLiteral("card %1|%2|%3")
                                    .arg(control<QLineEdit>(form1, "Edit4")->text(),
                                         control<QLineEdit>(form1, "Edit5")->text(),
                                         control<QLineEdit>(form1, "Edit6")->text()));
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
            control<QTabWidget>(form1, "TabbedNotebook1")->setCurrentIndex(1);
            control<QPushButton>(form1, "SpeedButton5")->click();
            say(QStringLiteral("started ") + control<QLabel>(form1, "Label2")->text());
        },
        Qt::QueuedConnection);
    QObject::connect(control<QPlainTextEdit>(form1, "Memo4"), &QPlainTextEdit::textChanged, form1, [form1] {
        say(QStringLiteral("log ") +
            control<QPlainTextEdit>(form1, "Memo4")->toPlainText().section(QLatin1Char('\n'), -1));
    });
    return app.exec();
}
