// Renders the program's windows into PNG files (for the README): the main
// window's two tabs with a read card and a write run and the port named in the
// status line, the read tab verifying a card swiped back, the port dialog with a USB adapter listed, the workbook file
// dialog, About, the preview of a batch with two problems and the question it asks at "Записать".
#include "app/application.h"
#include "app/batchahead.h"
#include "app/lookandfeel.h"
#include "app/messages.h"
#include "app/portlist.h"
#include "app/previewwindow.h"
#include "app/tform1.h"
#include "app/tform3.h"
#include "app/tform4.h"
#include "app/tform6.h"
#include "app/verifypanel.h"
#include "writing/batchsession.h"
#include "writing/journal.h"
#include "writing/writeloop.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

namespace {

// A port that opens and stays silent, so the status line shows an open port.
class QuietDevice : public SerialDevice
{
public:
    bool open() override { return m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    void setTimeouts(const PortTimeouts&) override {}
    void purgeReceive() override {}
    qint64 write(const char*, qint64 count) override { return count; }
    qint64 read(char*, qint64) override { return 0; }

private:
    bool m_open = false;
};

template <class T> T* control(QWidget* form, const char* name)
{
    return form->findChild<T*>(QLatin1String(name));
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stripewell"));
    LookAndFeel::apply(app);
    const QString out =
        QDir().absoluteFilePath(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots"));
    QDir().mkpath(out);
    // The program's own files (the job it saves as slots are added) go to a scratch folder,
    // never into the folder the screenshots are taken from.
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());
    // No settings file here: the start-up messages would only block.
    Platform::setMessageRecorder([](const Platform::MessageRecord&) {});
    PortList::setDeviceSource([] {
        return QList<PortList::Entry>{{QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z9C-if00-port0"),
                                       QStringLiteral("FT232R USB UART, FTDI — /dev/ttyUSB0")}};
    });
    Application program([](const QString&) { return std::make_unique<QuietDevice>(); });
    TForm1* main = program.form1.get();
    const auto shoot = [&](QWidget* w, const char* name) {
        w->show();
        QApplication::processEvents();
        w->grab().save(out + QLatin1Char('/') + QLatin1String(name));
    };
    main->ShowTrackChoice();
    program.form4->selectPortPosition(0);
    program.form4->Button1Click();
    control<QCheckBox>(main, "CheckBox2")->setChecked(true);
    control<QLineEdit>(main, "Edit4")->setText(QStringLiteral("B4000001234567899^IVANOV/IVAN^2512101"));
    control<QLineEdit>(main, "Edit5")->setText(QStringLiteral("4000001234567899'25121010000000000"));
    shoot(main, "read.png");
    control<QTabWidget>(main, "TabbedNotebook1")->setCurrentIndex(1);
    main->setTrackText(1, QStringLiteral("B4000001234567899^IVANOV/IVAN^2512101"));
    main->setTrackText(2, QStringLiteral("4000001234567899=2512101"));
    control<QPlainTextEdit>(main, "Memo4")
        ->setPlainText(QStringLiteral("1  Карточка записана\n2  Карточка НЕ записана!"));
    control<QLineEdit>(main, "BatchSizeEdit")->setText(QStringLiteral("500"));
    control<QLabel>(main, "Label3")->setText(WriteLoop::countLabel(12, 500));
    shoot(main, "write.png");

    // Three cards written in the open job, the second swiped back.
    QTemporaryDir work;
    main->setSettingsPath(work.filePath(QStringLiteral("config.rwc")));
    {
        Journal journal(work.filePath(QStringLiteral("journal.csv")));
        journal.setJob(QStringLiteral("job.swj"));
        const QDateTime at = QDateTime::fromString(QStringLiteral("2026-03-02T10:15:00+03:00"), Qt::ISODate);
        for (int n = 1; n <= 3; ++n) {
            const QString number = QStringLiteral("400000123456789%1").arg(n);
            journal.append(
                {at.addSecs(n * 7),
                 4,
                 n,
                 {QStringLiteral("B%1^IVANOV/IVAN^2512101").arg(number), number + QStringLiteral("=2512101"), {}},
                 Journal::Outcome::Written,
                 {}});
        }
    }
    control<QTabWidget>(main, "TabbedNotebook1")->setCurrentIndex(0);
    control<QCheckBox>(main, "CheckBox1")->setChecked(true);
    main->verifyPanel()->scopeBox()->setCurrentIndex(1); // the last run: this job is not the window's
    main->verifyPanel()->switchBox()->setChecked(true);
    control<QLineEdit>(main, "Edit4")->setText(QStringLiteral("B4000001234567892^IVANOV/IVAN^2512101"));
    control<QLineEdit>(main, "Edit5")->setText(QStringLiteral("4000001234567892'2512101"));
    main->verifyPanel()->check(
        3, {control<QLineEdit>(main, "Edit4")->text(), control<QLineEdit>(main, "Edit5")->text(), {}});
    shoot(main, "verify.png");
    main->verifyPanel()->switchBox()->setChecked(false);
    program.form4->show();
    control<QComboBox>(program.form4, "ComboBox1")->setCurrentIndex(8);
    shoot(program.form4, "port.png");
    program.form4->hide();

    QTemporaryDir files;
    for (const char* name : {"cards.xlsx", "clients.ods", "old-list.xls", "export.csv"}) {
        QFile file(files.filePath(QLatin1String(name)));
        file.open(QIODevice::WriteOnly);
    }
    QFileDialog dialog(program.form3, TForm3::workbookDialogTitle(), files.path(), TForm3::workbookDialogFilter());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.resize(560, 340);
    dialog.show();
    settle(500); // the folder is listed in the background
    shoot(&dialog, "file-dialog.png");
    shoot(program.form6, "about.png");

    // The batch ahead: a name track 1 cannot carry and a row given twice.
    const QString book = files.filePath(QStringLiteral("batch.csv"));
    QFile batch(book);
    batch.open(QIODevice::WriteOnly);
    batch.write("Name;Number\r\nIVANOV/IVAN;4000001234567899\r\nPETROV/PETR;4000001234567907\r\n"
                "SID%ROV/OLEG;4000001234567915\r\nKUZNETSOV/ANNA;4000001234567923\r\n"
                "PETROV/PETR;4000001234567907\r\nPOPOV/ILYA;4000001234567931\r\n");
    batch.close();
    TExcelApplication& excel = program.form3->ExcelApplication1;
    excel.openWorkbook(book);
    excel.AutoConnect = true;
    BatchSession& t = *program.session;
    const AddRequest column1{.kindItem = 3, .digitCount = 1, .excelColumn = 1, .excelRow = 1};
    const AddRequest column2{.kindItem = 3, .digitCount = 1, .excelColumn = 2, .excelRow = 1};
    t.addSlot(1, 0, {.kindItem = 0, .text = QStringLiteral("b")});
    t.addSlot(1, 1, column2);
    t.addSlot(1, 2, {.kindItem = 0, .text = QStringLiteral("^")});
    t.addSlot(1, 3, column1);
    t.addSlot(1, 4, {.kindItem = 0, .text = QStringLiteral("^2512101")});
    t.addSlot(2, 0, column2);
    t.addSlot(2, 1, {.kindItem = 0, .text = QStringLiteral("=2512101")});
    main->showPreview();
    PreviewWindow* preview = main->previewWindow();
    QEventLoop shown;
    QObject::connect(preview, &PreviewWindow::updated, &shown, &QEventLoop::quit);
    QTimer::singleShot(5000, &shown, &QEventLoop::quit);
    shown.exec();
    preview->goToFirstProblem();
    shoot(preview, "preview.png");

    // The question at "Записать" for that batch, as the operator meets it.
    QMessageBox question(QMessageBox::Warning, QStringLiteral("Внимание!"), BatchAhead::question(preview->result()),
                         QMessageBox::Yes | QMessageBox::No, main);
    question.setDefaultButton(QMessageBox::Yes);
    shoot(&question, "question.png");
    return 0;
}
