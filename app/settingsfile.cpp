#include "app/settingsfile.h"

#include "base/error.h"
#include "writing/durablefile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include <QFileInfo>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace SettingsFile {

namespace {

// Longer lines are no position and no device name; only this much is read.
constexpr qsizetype MaxLine = 4096;
// A bad line is quoted this far, so a huge or binary file gives a short message.
constexpr qsizetype QuotedCharacters = 40;

struct Reading
{
    QByteArray bytes;
    QString error;           // empty when read
    bool unreadable = false; // the file is there but could not be read
};

Reading cannotOpen(const QString& path, const QString& reason)
{
    return {{}, QStringLiteral("Cannot open file \"%1\". %2.").arg(QDir::toNativeSeparators(path), reason), true};
}

Reading notFound()
{
    return {{}, QStringLiteral("File not found."), false};
}

#ifndef Q_OS_WIN

QString notRegularReason(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("It is a folder, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("It is a named pipe, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("It is a device, not a file");
    return QStringLiteral("It is not a regular file");
}

// The file's first bytes. Only a regular file is opened, and without blocking,
// so a pipe or a device named config.rwc cannot freeze the window.
Reading readHead(const QString& path, qsizetype limit)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st = {};
    if (::stat(encoded.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return notFound();
        return cannotOpen(path, qt_error_string(errno));
    }
    if (!S_ISREG(st.st_mode))
        return cannotOpen(path, notRegularReason(st.st_mode));
    const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? notFound() : cannotOpen(path, qt_error_string(errno));
    Reading reading;
    // Checked again on what was opened: the name may have changed hands since.
    if (::fstat(fd, &st) != 0) {
        reading = cannotOpen(path, qt_error_string(errno));
    } else if (!S_ISREG(st.st_mode)) {
        reading = cannotOpen(path, notRegularReason(st.st_mode));
    } else {
        reading.bytes.resize(limit);
        qsizetype got = 0;
        while (got < limit) {
            const ssize_t n = ::read(fd, reading.bytes.data() + got, size_t(limit - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                reading = cannotOpen(path, qt_error_string(errno));
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        if (reading.error.isEmpty())
            reading.bytes.truncate(got);
    }
    ::close(fd);
    return reading;
}

#else

Reading readHead(const QString& path, qsizetype limit)
{
    const QFileInfo info(path);
    if (!info.exists())
        return notFound();
    if (!info.isFile())
        return cannotOpen(path, QStringLiteral("It is not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return cannotOpen(path, file.errorString());
    Reading reading;
    reading.bytes = file.read(limit);
    if (file.error() != QFileDevice::NoError)
        return cannotOpen(path, file.errorString());
    return reading;
}

#endif

// Takes one line off the front: up to LF, without the line end.
QByteArray takeLine(QByteArray& bytes)
{
    qsizetype end = bytes.indexOf('\n');
    if (end < 0)
        end = bytes.size();
    QByteArray line = bytes.left(end);
    bytes.remove(0, end + 1);
    while (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// The line as a message can show it: control characters as U+FFFD, cut short.
QString quoted(const QByteArray& line)
{
    QString text = QString::fromLocal8Bit(line.left(QuotedCharacters * 4));
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    }
    if (text.size() > QuotedCharacters)
        text = text.left(QuotedCharacters) + QChar(0x2026);
    return text;
}

bool isDeviceName(const QByteArray& line)
{
    if (line.size() > MaxLine)
        return false;
    for (const char c : line) {
        if (uchar(c) < 0x20 || c == 0x7F)
            return false;
    }
    return QString::fromUtf8(line).toUtf8() == line; // valid UTF-8
}

struct Parsed
{
    PortSetting setting;
    Reading reading;
};

Parsed readAndParse(const QString& path)
{
    Parsed parsed;
    parsed.reading = readHead(path, 2 * (MaxLine + 2));
    if (!parsed.reading.error.isEmpty())
        return parsed;
    QByteArray rest = parsed.reading.bytes;
    const QByteArray first = takeLine(rest);
    static const QRegularExpression integer(QStringLiteral("^\\s*[+-]?[0-9]+$"));
    const QString text = QString::fromLocal8Bit(first);
    bool ok = false;
    if (first.size() <= MaxLine && integer.match(text).hasMatch())
        parsed.setting.position = text.trimmed().toInt(&ok);
    if (!ok) {
        parsed.reading.error = QStringLiteral("'%1' is not a valid integer value.").arg(quoted(first));
        return parsed;
    }
    const QByteArray second = takeLine(rest);
    if (!isDeviceName(second)) {
        parsed.reading.error = QStringLiteral("'%1' is not a device name.").arg(quoted(second));
        return parsed;
    }
    parsed.setting.deviceName = QString::fromUtf8(second);
    return parsed;
}

} // namespace

QString defaultPath()
{
    return QDir::current().filePath(QStringLiteral("config.rwc"));
}

PortSetting readPortSetting(const QString& path)
{
    const Parsed parsed = readAndParse(path);
    if (!parsed.reading.error.isEmpty())
        throw Failure(parsed.reading.error);
    return parsed.setting;
}

int readPortPosition(const QString& path)
{
    return readPortSetting(path).position;
}

void writePortSetting(const QString& path, const PortSetting& setting)
{
    QByteArray content = QByteArray::number(setting.position) + "\r\n";
    if (!setting.deviceName.isEmpty())
        content += setting.deviceName.toUtf8() + "\r\n";
    DurableFile::replace(path, content);
}

void writePortPosition(const QString& path, int position)
{
    writePortSetting(path, PortSetting{position, {}});
}

PortSetting Store::load()
{
    const Parsed parsed = readAndParse(m_path);
    m_keepFile = parsed.reading.unreadable;
    if (!parsed.reading.error.isEmpty())
        throw Failure(parsed.reading.error);
    return parsed.setting;
}

void Store::save(const PortSetting& setting)
{
    if (!m_keepFile)
        writePortSetting(m_path, setting);
}

} // namespace SettingsFile
