#include "writing/durablefile.h"

#include "base/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSaveFile>
#include <io.h>
#else
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

[[noreturn]] void fail(const char* what, const QString& path, const QString& reason)
{
    throw Failure(QStringLiteral("%1 \"%2\". %3.").arg(QLatin1String(what), QDir::toNativeSeparators(path), reason));
}

// The file a link points to is the one rewritten; the link stays.
QString realPath(const QString& path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

} // namespace

#ifndef Q_OS_WIN

namespace {

[[noreturn]] void failErrno(const char* what, const QString& path, int error)
{
    fail(what, path, qt_error_string(error));
}

// Closes on every way out; close() itself is checked where its result matters.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void reset(int fd) { m_fd = fd; }
    bool close() // false with errno set
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Writes everything or returns false with errno set. A full disk shows as a
// short write first and ENOSPC on the next call, so the loop goes on until one.
bool writeAll(int fd, const char* data, qsizetype size, off_t offset = -1)
{
    while (size > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, data, size_t(size)) : ::pwrite(fd, data, size_t(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= n;
        if (offset >= 0)
            offset += n;
    }
    return true;
}

bool syncData(int fd)
{
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

bool syncAll(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// Makes a new or renamed name in the folder survive a power cut. A file
// system that cannot sync a folder (EINVAL) keeps its names by its own means.
void syncFolder(const QString& filePath)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    Fd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return; // a folder that cannot be listed cannot be synced either; the data itself is on disk
    if (!syncAll(dir.get()) && errno != EINVAL && errno != EROFS)
        failErrno("Cannot write file", filePath, errno);
}

const char* notRegularReason(mode_t mode)
{
    if (S_ISDIR(mode))
        return "It is a folder, not a file";
    if (S_ISFIFO(mode))
        return "It is a named pipe, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "It is a device, not a file";
    return "It is not a regular file";
}

// Where the folder refuses a new file but the file takes writes: overwrite it.
// The new bytes go over the old ones before the length is cut, so a small file
// needs no new space; when a step fails, the old bytes are put back.
void overwriteInPlace(const QString& path, const QByteArray& encoded, const QByteArray& content)
{
    bool readable = true;
    Fd fd(::open(encoded.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        readable = false;
        fd.reset(::open(encoded.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    }
    if (fd.get() < 0)
        failErrno("Cannot create file", path, errno);
    struct stat st = {};
    if (::fstat(fd.get(), &st) != 0)
        failErrno("Cannot write file", path, errno);
    if (!S_ISREG(st.st_mode))
        fail("Cannot write file", path, QLatin1String(notRegularReason(st.st_mode)));

    QByteArray old;
    if (readable) {
        old.resize(qsizetype(st.st_size));
        const ssize_t n = old.isEmpty() ? 0 : ::pread(fd.get(), old.data(), size_t(old.size()), 0);
        if (n != ssize_t(old.size()))
            readable = false;
    }
    if (writeAll(fd.get(), content.constData(), content.size(), 0) && ::ftruncate(fd.get(), content.size()) == 0 &&
        syncAll(fd.get()) && fd.close())
        return;
    const int error = errno;
    if (readable && fd.get() >= 0) {
        writeAll(fd.get(), old.constData(), old.size(), 0);
        (void)::ftruncate(fd.get(), old.size());
        syncAll(fd.get());
    }
    failErrno("Cannot write file", path, error);
}

// A new, unused name beside the target, opened for writing; -1 with errno set.
int createTemporary(const QString& target, QString* name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = QStringLiteral("%1.%2.tmp")
                    .arg(target)
                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        const int fd = ::open(QFile::encodeName(*name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool folderRefusesNewFiles(int error)
{
    return error == EACCES || error == EPERM || error == EROFS;
}

} // namespace

namespace DurableFile {

void replace(const QString& path, const QByteArray& content)
{
    const QString target = realPath(path);
    const QByteArray encoded = QFile::encodeName(target);
    struct stat st = {};
    const bool exists = ::stat(encoded.constData(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        fail("Cannot write file", path, QLatin1String(notRegularReason(st.st_mode)));

    QString temporary;
    Fd fd(createTemporary(target, &temporary));
    if (fd.get() < 0) {
        const int error = errno;
        if (exists && folderRefusesNewFiles(error))
            return overwriteInPlace(path, encoded, content);
        failErrno("Cannot create file", path, error);
    }
    const QByteArray temporaryEncoded = QFile::encodeName(temporary);
    // The old file's permissions carry over to the new one.
    bool ok = (!exists || ::fchmod(fd.get(), st.st_mode & 07777) == 0 || errno == EPERM) &&
              writeAll(fd.get(), content.constData(), content.size()) && syncAll(fd.get()) && fd.close() &&
              ::rename(temporaryEncoded.constData(), encoded.constData()) == 0;
    if (!ok) {
        const int error = errno;
        if (fd.get() >= 0)
            fd.close();
        ::unlink(temporaryEncoded.constData());
        failErrno("Cannot write file", path, error);
    }
    syncFolder(target);
}

void appendLine(const QString& path, const QByteArray& line)
{
    DurableAppender(path).append(line);
}

} // namespace DurableFile

DurableAppender::DurableAppender(const QString& path) : m_path(path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st = {};
    const bool existed = ::stat(encoded.constData(), &st) == 0;
    if (existed && !S_ISREG(st.st_mode))
        fail("Cannot write file", path, QLatin1String(notRegularReason(st.st_mode)));
    // Non-blocking, so a pipe of that name cannot freeze the caller before it is refused.
    Fd fd(::open(encoded.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    if (fd.get() < 0)
        failErrno("Cannot create file", path, errno);
    if (::fstat(fd.get(), &st) != 0)
        failErrno("Cannot write file", path, errno);
    if (!S_ISREG(st.st_mode))
        fail("Cannot write file", path, QLatin1String(notRegularReason(st.st_mode)));
    if (!existed)
        syncFolder(path);
    m_fd = fd.get();
    fd.reset(-1);
}

DurableAppender::~DurableAppender()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void DurableAppender::append(const QByteArray& bytes)
{
    struct stat st = {};
    if (::fstat(m_fd, &st) != 0)
        failErrno("Cannot write file", m_path, errno);
    if (writeAll(m_fd, bytes.constData(), bytes.size()) && syncData(m_fd))
        return;
    const int error = errno;
    // Cut a partial append back off, so the file holds only whole ones.
    if (::ftruncate(m_fd, st.st_size) == 0)
        syncData(m_fd);
    failErrno("Cannot write file", m_path, error);
}

#else // Q_OS_WIN

namespace {

// Flushes Qt's buffer and then the system's cache to the disk.
bool flushToDisk(QFileDevice& file)
{
    return file.flush() && ::_commit(file.handle()) == 0;
}

} // namespace

namespace DurableFile {

void replace(const QString& path, const QByteArray& content)
{
    const QString target = realPath(path);
    const QFileInfo info(target);
    if (info.exists() && !info.isFile())
        fail("Cannot write file", path, QStringLiteral("It is not a regular file"));
    QSaveFile file(target);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        fail("Cannot create file", path, file.errorString());
    if (file.write(content) != content.size() || !flushToDisk(file) || !file.commit())
        fail("Cannot write file", path, file.errorString());
}

void appendLine(const QString& path, const QByteArray& line)
{
    DurableAppender(path).append(line);
}

} // namespace DurableFile

DurableAppender::DurableAppender(const QString& path) : m_path(path), m_file(std::make_unique<QFile>(path))
{
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Append))
        fail("Cannot create file", path, m_file->errorString());
}

DurableAppender::~DurableAppender() = default;

void DurableAppender::append(const QByteArray& bytes)
{
    const qint64 before = m_file->size();
    if (m_file->write(bytes) == bytes.size() && flushToDisk(*m_file))
        return;
    const QString reason = m_file->errorString();
    m_file->resize(before);
    fail("Cannot write file", m_path, reason);
}

#endif
