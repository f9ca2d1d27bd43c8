#pragma once

// File-system conditions the operator's machine can be in: a disk that is
// full, files and folders the operator's account may not read or write. Tests
// run as root in CI, and root passes every permission check, so the
// permission cases run with the effective user switched to "nobody".

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// A tmpfs of a few KB, mounted for the test (needs root and a machine that
// allows mounting; `why` says what stopped it otherwise).
class SmallDisk
{
public:
    explicit SmallDisk(const char* options = "size=8k,mode=0755")
    {
        if (!m_mountPoint.isValid()) {
            m_why = QStringLiteral("no temporary folder");
            return;
        }
        m_mounted = ::mount("tmpfs", QFile::encodeName(path()).constData(), "tmpfs", 0, options) == 0;
        if (!m_mounted)
            m_why = QStringLiteral("cannot mount a small tmpfs here: %1").arg(qt_error_string(errno));
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    const QString& why() const { return m_why; }
    QString path() const { return m_mountPoint.path(); }
    QString filePath(const QString& name) const { return m_mountPoint.filePath(name); }

    // Writes a filler file until the disk refuses; true once it is full.
    bool fill() const
    {
        const int fd = ::open(QFile::encodeName(filePath(QStringLiteral("filler"))).constData(),
                              O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const QByteArray block(512, 'f');
        int error = 0;
        for (int i = 0; i < 100000 && error == 0; ++i) {
            if (::write(fd, block.constData(), size_t(block.size())) < 0)
                error = errno;
        }
        ::close(fd);
        return error == ENOSPC;
    }

private:
    QTemporaryDir m_mountPoint;
    bool m_mounted = false;
    QString m_why;
};

// While alive, the process acts as the unprivileged user "nobody" when it runs
// as root; otherwise it changes nothing, as permissions already apply.
class OrdinaryUser
{
public:
    OrdinaryUser()
    {
        if (::geteuid() != 0)
            return;
        m_switched = ::setegid(Nobody) == 0 && ::seteuid(Nobody) == 0;
    }
    ~OrdinaryUser()
    {
        if (m_switched && ::seteuid(0) == 0)
            (void)::setegid(0);
    }
    OrdinaryUser(const OrdinaryUser&) = delete;
    OrdinaryUser& operator=(const OrdinaryUser&) = delete;

    // Gives a file to the user the tests act as, with the mode given.
    static bool own(const QString& path, mode_t mode)
    {
        const QByteArray name = QFile::encodeName(path);
        if (::geteuid() == 0 && ::lchown(name.constData(), Nobody, Nobody) != 0)
            return false;
        return ::chmod(name.constData(), mode) == 0;
    }

private:
    static constexpr uid_t Nobody = 65534;
    bool m_switched = false;
};
