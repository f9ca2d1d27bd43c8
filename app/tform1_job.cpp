// The main window's job: the menu "Файл" items that start, open and save one,
// and the reopening at start. The batch session keeps the job; these choose
// the files and show what it reports.
#include "app/filedialogs.h"
#include "app/messages.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "base/error.h"
#include "link/commandset.h"
#include "ui_TForm1.h"

#include <QFileDialog>
#include <QSignalBlocker>

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
        case BatchSession::Notice::Kind::Warning:
            Platform::warningBox(this, notice.text);
            break;
        case BatchSession::Notice::Kind::Failure:
            Platform::failureBox(this, notice.text);
            break;
        case BatchSession::Notice::Kind::Error:
            reportLikeAnError(notice.text);
            break;
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
    ui->SpeedButton5->setEnabled(ui->CheckBox4->isChecked() || ui->CheckBox5->isChecked() ||
                                 ui->CheckBox6->isChecked());
}

// The job being left is saved as it safely stood; where that fails (its folder
// gone with a removed stick) the operator is told and may still go on.
void TForm1::N6Click()
{
    stopRunForJobChange();
    Platform::guarded(this, [this] { saveJobAtClose(); });
    m_session.newJob();
    showBatch();
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
// same tracks over. They are set without their click handling, which would take
// the session through the choices in between; the tracks are then taken once,
// as a click takes them.
void TForm1::showJobTrackChoice(int choice)
{
    bool changed = false;
    const std::pair<QCheckBox*, int> boxes[] = {{ui->CheckBox4, 1}, {ui->CheckBox5, 2}, {ui->CheckBox6, 3},
                                                {ui->CheckBox1, 1}, {ui->CheckBox2, 2}, {ui->CheckBox3, 3}};
    for (const auto& [box, track] : boxes) {
        const bool carried = CommandSet::choiceCarries(choice, track);
        changed = changed || box->isChecked() != carried;
        const QSignalBlocker quiet(box);
        box->setChecked(carried);
    }
    if (changed) {
        SelectReadTracks();
        SelectWriteTracks();
        m_form2->ApplyTrackChoice();
    }
    m_session.setTrackChoice(choice);
    ShowTrackChoice();
}
