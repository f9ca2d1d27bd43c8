#pragma once

#include "writing/cardtexts.h"
#include "writing/tracktemplate.h"

#include <QByteArray>
#include <QString>

#include <optional>

// A job: what an operator builds for a batch of cards and must find again after
// a break, a crash or a power cut. The three tracks' templates (every slot with
// its kind, its text - a counter's next value and step as the slot holds them -
// and its worksheet column, row, step and direction), the digit counts, the
// workbook file, the track choice and the batch's size and count. Kept in a
// JSON file of our own format.
struct Job
{
    TemplateSet templates; // CurrentTrack is the composer's, not the job's: always 0 here
    QString workbook;      // as the operator gave it; empty when the job has none
    // The workbook relative to the job file's folder when the job was saved, so
    // that a folder moved with both still finds it; empty when unknown.
    QString workbookBesideJob;
    int trackChoice = 0; // 0 "Track 1" .. 5 "Track 1 & 2 & 3"

    // A sized batch: `size` cards in all, `written` of them answered "written"
    // so far. Size 0: unsized, a run goes on until the data ends or "Отмена".
    static constexpr int MaxBatchSize = 1048576;
    struct Batch
    {
        int size = 0;
        int written = 0;
        friend bool operator==(const Batch&, const Batch&) = default;
    };
    Batch batch;

    // A card that went out and has not been answered "written": the templates
    // above have already moved past it, so it is sent again first, never lost.
    struct CardInFlight
    {
        int choice = 0;
        CardTexts texts;
        friend bool operator==(const CardInFlight&, const CardInFlight&) = default;
    };
    std::optional<CardInFlight> inFlight;

    // A shared batch this station encodes: the bureau's database hands out its
    // cards (and keeps this station's card in flight), so the templates above
    // compose nothing while it is joined. The connection is libpq's, never
    // with a password in it.
    struct Shared
    {
        QString connection;
        qint64 batch = 0;
        QString name;
        friend bool operator==(const Shared&, const Shared&) = default;
    };
    std::optional<Shared> shared;

    friend bool operator==(const Job&, const Job&) = default;

    // A libpq connection string that carries a password (the password belongs
    // in ~/.pgpass or PGPASSFILE, never in a file of ours).
    static bool connectionHasPassword(const QString& connection);
};

namespace JobFormat {

inline constexpr char Name[] = "stripewell-job";
inline constexpr int Version = 1;
inline constexpr char Extension[] = "swj";
// A job is a few kilobytes; anything far larger is not one, and is not read whole.
inline constexpr qint64 MaxFileSize = 1 << 20;

QString fileDialogFilter();

} // namespace JobFormat

// Why a job file could not be taken. Every kind leaves the job in memory as it was.
enum class JobProblem {
    None,
    Unreadable, // the file cannot be opened or read
    Broken,     // damaged, cut short, or a field out of its range
    Newer,      // written by a later version of the program
    NotAJob,    // some other file
};

struct JobRead
{
    std::optional<Job> job;
    JobProblem problem = JobProblem::None;
    QString message; // in Russian, naming the file and what is wrong
};

namespace JobFile {

QByteArray toJson(const Job& job);
// `name` is how the message names the file.
JobRead fromJson(const QByteArray& bytes, const QString& name);
JobRead read(const QString& path);
// Replaces the file in one step (DurableFile). Throws Failure.
void write(const QString& path, const Job& job);

// Where the job's workbook is now: as given (relative to the working directory
// when relative), else beside the job file by the relative path it had, else
// beside the job file by its file name. Empty when none of them exists.
QString findWorkbook(const Job& job, const QString& jobPath);
// The workbook relative to the job file's folder, for Job::workbookBesideJob.
QString relativeToJob(const QString& workbook, const QString& jobPath);

// Renames a file that could not be taken to "<name>.<why>-<yyyyMMdd-HHmmss>"
// (and "-2", "-3" ... when that exists) so that nothing ever writes over it.
// Returns the new path. Throws Failure when it cannot be renamed.
QString keepAside(const QString& path, const QString& why);

// Renames a job file the operator may want again to "<base>-<yyyyMMdd-HHmmss>.swj"
// beside it, so it still opens as a job. Returns the new path. Throws Failure.
QString keepAsJob(const QString& path);

// A job with no slot, no digit count and no workbook: nothing worth keeping.
bool isEmpty(const Job& job);

// A suffix for keepAside that says why: "broken", "newer", "other", "unread".
QString asideReason(JobProblem problem);

} // namespace JobFile

// The job that is open, its file, and the small file in the working directory
// that names it so the next start reopens it. Nothing here touches a widget:
// the main window hands the live state in and applies what comes out.
class JobSession
{
public:
    // `workDir` is the working directory, where config.rwc lives.
    explicit JobSession(const QString& workDir);

    // The job never given a name: "job.swj" in the working directory.
    QString defaultPath() const;
    // "lastjob.txt": one line, the open job's file (relative to the working
    // directory when inside it).
    QString pointerPath() const;
    // The job to reopen at start: the one the pointer names, else the default.
    QString lastJobPath() const;

    // The open job's file; empty while saving is held back (a file that
    // could not be read and could not be renamed either).
    const QString& path() const { return m_path; }
    // Makes `path` the open job's file and records it in the pointer file.
    // Throws Failure when the pointer cannot be written, and then changes nothing.
    void setPath(const QString& path);

    // The job as last written or read: what a restart would find. It holds no
    // card that was composed and sent but not yet answered "written".
    const Job& saved() const { return m_saved; }
    void setSaved(const Job& job) { m_saved = job; }

    // The job's workbook as the operator gave it, and the file that was
    // actually opened for it (empty when none is open).
    const QString& workbook() const { return m_workbook; }
    const QString& openedWorkbook() const { return m_openedWorkbook; }
    void setWorkbook(const QString& given, const QString& opened);

    // The job from live state, with the workbook as the session knows it, to
    // be kept in `jobPath` (the open job's file when empty).
    Job jobOf(const TemplateSet& templates, int trackChoice, const QString& jobPath = QString()) const;
    // Writes `job` to the open job's file and makes it the saved job. Does
    // nothing while saving is held back. Throws Failure.
    void save(const Job& job);
    // Writes `job` to `path`, then makes that the open job's file. Throws Failure.
    void saveAs(const QString& path, const Job& job);

private:
    QString m_workDir;
    QString m_path;
    Job m_saved;
    QString m_workbook;
    QString m_openedWorkbook;
};
