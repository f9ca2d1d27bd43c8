// The main window's job: the menu "Файл" items that start, open and save one,
// and the reopening at start. The batch session keeps the job; these choose
// the files and show what it reports.
#include "app/filedialogs.h"
#include "app/messages.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "link/commandset.h"
#include "link/error.h"
#include "ui_TForm1.h"

#include <QFileDialog>

#include <array>

// The common error report, as for an error that escapes a handler (and, like
// that, not while another report is open).
void TForm1::reportLikeAnError(const QString& text)
{
    Platform::guarded(this, [&text] { throw Failure(text); });
}

void TForm1::showNotices(const QList<BatchSession::Notice>& notices)
{
    for (const BatchSession::Notice& notice : notices) {
        switch (notice.kind) {
        case BatchSession::Notice::Kind::Warning: Platform::warningBox(this, notice.text); break;
        case BatchSession::Notice::Kind::Failure: Platform::failureBox(this, notice.text); break;
        case BatchSession::Notice::Kind::Error: reportLikeAnError(notice.text); break;
        }
    }
}

// The templates as they stand, with the card in flight: a card composed and sent
// but not yet answered "written" goes out first after a restart, never skipped.
void TForm1::saveJobAtClose()
{
    m_session.saveJob();
}

void TForm1::stopRunForJobChange()
{
    endWriteRun();
    ui->SpeedButton5->setEnabled(ui->CheckBox4->isChecked() || ui->CheckBox5->isChecked()
                                 || ui->CheckBox6->isChecked());
}

// The job being left is saved as it safely stood; where that fails (its folder
// gone with a removed stick) the operator is told and may still go on.
void TForm1::N6Click()
{
    stopRunForJobChange();
    Platform::guarded(this, [this] { saveJobAtClose(); });
    m_session.newJob();
}

QString TForm1::askJobFile(bool saving)
{
    Platform::FileRequest request;
    request.mode = saving ? Platform::FileRequest::Mode::Save : Platform::FileRequest::Mode::Open;
    request.title = saving ? QStringLiteral("Сохранить задание как") : QStringLiteral("Открыть задание");
    request.folder = m_session.jobFolder();
    request.filter = JobFormat::fileDialogFilter();
    request.defaultSuffix = QLatin1String(JobFormat::Extension);
    return Platform::chooseFile(this, request);
}

void TForm1::N7Click()
{
    const QString path = askJobFile(false);
    if (path.isEmpty())
        return;
    // A file that cannot be taken changes nothing, not even a run going on.
    const JobRead read = JobFile::read(path);
    if (!read.job) {
        Platform::failureBox(this, read.message);
        return;
    }
    stopRunForJobChange();
    Platform::guarded(this, [this] { saveJobAtClose(); });
    showNotices(m_session.openJob(*read.job, path));
}

void TForm1::N8Click()
{
    const QString path = askJobFile(true);
    if (!path.isEmpty())
        m_session.saveJobAs(path);
}

void TForm1::reopenJob()
{
    showNotices(m_session.reopenJob());
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
    m_session.setTrackChoice(choice);
    ShowTrackChoice();
}
