#pragma once

#include <QLockFile>
#include <QString>

// One program per working directory. The working directory holds the settings,
// the job and the journal; two programs there would save the job over each
// other and both append to the journal. The program holds the lock file
// `stripewell.lock` there while it runs. A lock whose program is gone (killed,
// crashed, the power lost) is taken over: the file names its process, and a
// process that no longer runs holds nothing.
class InstanceLock
{
public:
    enum class Result {
        Taken,       // this program runs here
        HeldByOther, // another program runs here: this one must leave every file alone
        NotLockable, // the folder takes no lock file (read-only): the program runs without one
    };

    explicit InstanceLock(const QString& dir);

    Result take();
    // The process of the program that holds the lock, after HeldByOther (0 when unknown).
    qint64 holder() const { return m_holder; }
    const QString& path() const { return m_path; }

    static QString fileName() { return QStringLiteral("stripewell.lock"); }

private:
    QString m_path;
    QLockFile m_file;
    qint64 m_holder = 0;
};

// At start: takes the working directory's lock. When another program holds it,
// tells the operator so, brings that program's main window to the front where
// the desktop allows it, and returns false: the caller exits without touching
// any file.
bool claimWorkingDirectory(InstanceLock& lock);

// Asks the desktop to bring the main window of process `pid` to the front
// (X11: _NET_ACTIVE_WINDOW; Windows: SetForegroundWindow). False when no such
// window was found.
bool bringWindowToFront(qint64 pid);
