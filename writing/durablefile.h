#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;

// Files the program must not lose half-written: the settings file, the job and
// the journal. Every write and flush is checked and the data is on disk before
// the call returns; a failure throws Failure with the path and the system's
// reason and keeps what the file held before.
namespace DurableFile {

// Replaces the file's content in one step: a temporary file beside it, written
// and synced, then renamed over it (and the folder synced, so the new name
// survives a power cut). Where the folder does not allow a temporary file but
// the file itself is writable, the file is overwritten in place, and put back
// as it was when that write fails. Something that is not a regular file (a
// folder, a pipe, a device) is refused, never replaced.
void replace(const QString& path, const QByteArray& content);

// Appends the bytes to the file (created when missing) and syncs them. For one
// line now and then; a journal that appends many keeps a DurableAppender.
void appendLine(const QString& path, const QByteArray& line);

} // namespace DurableFile

// A file kept open for appending, each append on disk before it returns. An
// append that fails part-way is cut back off the file, so the file only ever
// holds whole appends: a journal of one line per card stays readable after a
// full disk or a crash.
class DurableAppender
{
public:
    explicit DurableAppender(const QString& path); // throws Failure when the file cannot be opened
    ~DurableAppender();
    DurableAppender(const DurableAppender&) = delete;
    DurableAppender& operator=(const DurableAppender&) = delete;

    void append(const QByteArray& bytes); // throws Failure; the file keeps what it held before
    const QString& path() const { return m_path; }

private:
    QString m_path;
#ifdef Q_OS_WIN
    std::unique_ptr<QFile> m_file;
#else
    int m_fd = -1;
#endif
};
