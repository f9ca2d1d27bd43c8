// The main window's job: the menu "Файл" items that start, open and save one,
// the reopening at start and the saves as the job advances.
#include "app/messages.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "link/commandset.h"
#include "link/error.h"
#include "ui_TForm1.h"
#include "app/tform3.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <array>

std::function<QString(QWidget*, bool)> TForm1::chooseJobFile;

JobSession& TForm1::jobSession()
{
    // Beside config.rwc, so a test that moves the settings file moves the job with it.
    if (!m_job)
        m_job = std::make_unique<JobSession>(QFileInfo(m_settings.path()).absolutePath());
    return *m_job;
}

void TForm1::connectJobHandlers()
{
    const auto guard = [this](void (TForm1::*handler)()) { return Platform::guardedSlot(this, handler); };
    connect(ui->N6, &QAction::triggered, this, guard(&TForm1::N6Click));
    connect(ui->N7, &QAction::triggered, this, guard(&TForm1::N7Click));
    connect(ui->N8, &QAction::triggered, this, guard(&TForm1::N8Click));
    connect(m_form3, &TForm3::templatesChanged, this, guard(&TForm1::composerChanged));
}

void TForm1::saveJob()
{
    if (!m_jobReady)
        return;
    JobSession& job = jobSession();
    Job current = job.jobOf(m_form3->templates(), m_form2->trackChoice());
    if (const auto& pending = m_writeLoop.pendingCard())
        current.inFlight = Job::CardInFlight{pending->choice, pending->texts};
    job.save(current);
}

void TForm1::composerChanged()
{
    ++m_templateVersion;
    JobSession& job = jobSession();
    const QString open = m_form3->ExcelApplication1.workbookPath();
    // A workbook the operator chose (or dropped) becomes the job's; one that was
    // not found at start stays the job's until then.
    if (open != job.openedWorkbook())
        job.setWorkbook(open, open);
    saveJob();
}

// The templates as they stand, with the card in flight: a card composed and sent
// but not yet answered "written" goes out first after a restart, never skipped.
void TForm1::saveJobAtClose()
{
    saveJob();
}

void TForm1::stopRunForJobChange()
{
    endWriteRun();
    ui->SpeedButton5->setEnabled(ui->CheckBox4->isChecked() || ui->CheckBox5->isChecked()
                                 || ui->CheckBox6->isChecked());
}

QString TForm1::jobDialogFolder()
{
    const QString path = jobSession().path();
    return path.isEmpty() ? QFileInfo(m_settings.path()).absolutePath() : QFileInfo(path).absolutePath();
}

// An empty job in the place of the job never given a name. A job that was
// there is renamed, not overwritten, so it can still be opened.
void TForm1::startNewJob()
{
    JobSession& job = jobSession();
    const QString place = job.defaultPath();
    if (QFileInfo(place).isFile()) {
        const JobRead old = JobFile::read(place);
        if (!old.job)
            JobFile::keepAside(place, JobFile::asideReason(old.problem));
        else if (!JobFile::isEmpty(*old.job))
            JobFile::keepAsJob(place);
    }
    // The empty job is on file before the live one is dropped: should this
    // fail, the templates and the file they are saved to still belong together.
    Job empty;
    empty.trackChoice = m_form2->trackChoice();
    job.saveAs(place, empty);
    m_form3->setTemplates(TemplateSet{});
    m_writeLoop.restorePendingCard(std::nullopt); // the old job's file keeps its card in flight
    m_form3->ExcelApplication1.release();
    job.setWorkbook(QString(), QString());
    m_jobReady = true;
}

// The job being left is saved as it safely stood; where that fails (its folder
// gone with a removed stick) the operator is told and may still go on.
void TForm1::N6Click()
{
    stopRunForJobChange();
    Platform::guarded(this, [this] { saveJobAtClose(); });
    startNewJob();
}

QString TForm1::askJobFile(bool saving)
{
    if (chooseJobFile)
        return chooseJobFile(this, saving);
    QFileDialog dialog(this, saving ? QStringLiteral("Сохранить задание как") : QStringLiteral("Открыть задание"),
                       jobDialogFolder(), JobFormat::fileDialogFilter());
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Added before the dialog asks whether to replace a file, so it asks about the right one.
    dialog.setDefaultSuffix(QLatin1String(JobFormat::Extension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void TForm1::N7Click()
{
    const QString path = askJobFile(false);
    if (path.isEmpty())
        return;
    const JobRead read = JobFile::read(path);
    if (!read.job) {
        Platform::failureBox(this, read.message);
        return;
    }
    stopRunForJobChange();
    Platform::guarded(this, [this] { saveJobAtClose(); });
    jobSession().setPath(path);
    applyJob(*read.job, path);
}

void TForm1::N8Click()
{
    QString path = askJobFile(true);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + QLatin1String(JobFormat::Extension);
    JobSession& job = jobSession();
    m_jobReady = true;
    job.saveAs(path, job.jobOf(job.saved().templates, m_form2->trackChoice(), path));
    if (m_journal)
        m_journal->setJob(openJobName()); // a run going on writes its next cards under the new name
}

void TForm1::reopenJob()
{
    Platform::guarded(this, [this] {
        JobSession& job = jobSession();
        const QString path = job.lastJobPath();
        // A folder in the job's place is no job either, and is left alone.
        if (!QFileInfo(path).isFile()) {
            m_jobReady = true;
            job.setSaved(job.jobOf(TemplateSet{}, m_form2->trackChoice()));
            if (path != job.defaultPath()) {
                Platform::warningBox(this, QStringLiteral("Задание «%1», открытое в прошлый раз, не найдено. "
                                                          "Начато новое задание.")
                                               .arg(QDir::toNativeSeparators(path)));
                startNewJob();
            }
            return;
        }
        const JobRead read = JobFile::read(path);
        if (read.job) {
            job.setPath(path);
            applyJob(*read.job, path);
            return;
        }
        // Never written over: the file is renamed and an empty job takes its
        // place; where it cannot be renamed, nothing is saved until the
        // operator gives the job another file.
        QString aside;
        try {
            aside = JobFile::keepAside(path, JobFile::asideReason(read.problem));
        } catch (const Failure&) {
        }
        job.setPath(aside.isEmpty() ? QString() : path);
        m_jobReady = true;
        job.setSaved(job.jobOf(TemplateSet{}, m_form2->trackChoice()));
        if (!aside.isEmpty())
            Platform::failureBox(this, read.message + QStringLiteral(".\nФайл сохранён как «%1»; начато новое задание.")
                                                          .arg(QDir::toNativeSeparators(aside)));
        else
            Platform::failureBox(this, read.message + QStringLiteral(".\nФайл оставлен как есть; задание не будет "
                                                                     "сохраняться, пока не выбрано «Сохранить "
                                                                     "задание как…»."));
    });
}

void TForm1::applyJob(const Job& loaded, const QString& path)
{
    JobSession& job = jobSession();
    m_form3->setTemplates(loaded.templates);
    m_form3->ExcelApplication1.release();
    job.setWorkbook(loaded.workbook, QString());
    job.setSaved(loaded);
    m_jobReady = true;
    std::optional<WriteLoop::SentCard> pending;
    if (loaded.inFlight)
        pending = WriteLoop::SentCard{loaded.inFlight->choice, loaded.inFlight->texts, m_templateVersion};
    m_writeLoop.restorePendingCard(pending);
    showJobTrackChoice(loaded.trackChoice);
    if (loaded.workbook.isEmpty())
        return;
    const QString found = JobFile::findWorkbook(loaded, path);
    if (found.isEmpty()) {
        Platform::warningBox(this, QStringLiteral("Книга задания «%1» не найдена. Слоты задания сохранены; "
                                                  "выберите книгу в окне «Запись».")
                                       .arg(QDir::toNativeSeparators(loaded.workbook)));
        return;
    }
    try {
        m_form3->ExcelApplication1.openWorkbook(found);
        job.setWorkbook(loaded.workbook, found);
    } catch (const Failure& failure) {
        Platform::warningBox(this, failure.text() + QStringLiteral(". Слоты задания сохранены."));
    }
}

// The boxes of both tabs follow the job's choice, so a change of tab hands the
// same tracks over. Boxes are ticked before others are cleared, and track 2
// last, so no step leaves tracks 1 and 3 without 2 (which would tick it again).
void TForm1::showJobTrackChoice(int choice)
{
    const std::array<QCheckBox*, 3> write = {ui->CheckBox4, ui->CheckBox5, ui->CheckBox6};
    const std::array<QCheckBox*, 3> read = {ui->CheckBox1, ui->CheckBox2, ui->CheckBox3};
    for (const auto& boxes : {write, read}) {
        for (int track = 1; track <= 3; ++track) {
            if (CommandSet::choiceCarries(choice, track))
                boxes[track - 1]->setChecked(true);
        }
        for (int track : {1, 3, 2}) {
            if (!CommandSet::choiceCarries(choice, track))
                boxes[track - 1]->setChecked(false);
        }
    }
    m_form2->setTrackChoice(choice);
    ShowTrackChoice();
}
