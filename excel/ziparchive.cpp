#include "excel/ziparchive.h"

#include "base/error.h"
#include "excel/workbooklimits.h"

#include <QStringList>
#include <cstring>
#include <zip.h>

// Streams one entry out of the archive; stops (as an early end) at the bounds.
class ZipEntryDevice : public QIODevice
{
public:
    ZipEntryDevice(ZipArchive& archive, zip_file_t* file) : m_archive(archive), m_file(file)
    {
        QIODevice::open(QIODevice::ReadOnly);
    }
    ~ZipEntryDevice() override { zip_fclose(m_file); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (m_failed)
            return -1;
        const zip_int64_t got = zip_fread(m_file, data, static_cast<zip_uint64_t>(maxSize));
        if (got < 0) {
            m_failed = true;
            return -1;
        }
        m_entryBytes += got;
        m_archive.m_taken += got;
        if (m_entryBytes > WorkbookLimits::MaxEntryBytes || m_archive.m_taken > WorkbookLimits::MaxArchiveBytes) {
            m_archive.m_overrun = true;
            m_failed = true;
            return -1;
        }
        return got;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    ZipArchive& m_archive;
    zip_file_t* m_file;
    std::int64_t m_entryBytes = 0;
    bool m_failed = false;
};

static QString zipErrorText(int code)
{
    switch (code) {
    case ZIP_ER_NOENT:
        return QStringLiteral("файл не найден");
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
        return QStringLiteral("файл не читается");
    case ZIP_ER_NOZIP:
        return QStringLiteral("файл повреждён (это не zip-архив)");
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_ENCRNOTSUPP:
        return QStringLiteral("книга защищена паролем");
    case ZIP_ER_MEMORY:
        return QStringLiteral("не хватает памяти");
    default: {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        QString text = QStringLiteral("файл повреждён (%1)").arg(QString::fromUtf8(zip_error_strerror(&error)));
        zip_error_fini(&error);
        return text;
    }
    }
}

ZipArchive::ZipArchive(const QString& path)
{
    int code = 0;
    m_zip = zip_open(path.toLocal8Bit().constData(), ZIP_RDONLY, &code);
    if (!m_zip)
        throw Failure(zipErrorText(code));
    check();
}

ZipArchive::ZipArchive(const QByteArray& bytes)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source =
        zip_source_buffer_create(bytes.constData(), static_cast<zip_uint64_t>(bytes.size()), 0, &error);
    if (source)
        m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    const int code = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (!m_zip) {
        if (source)
            zip_source_free(source);
        throw Failure(zipErrorText(code));
    }
    check();
}

ZipArchive::~ZipArchive()
{
    if (m_zip)
        zip_discard(m_zip);
}

void ZipArchive::check()
{
    if (zip_get_num_entries(m_zip, 0) > WorkbookLimits::MaxZipEntries) {
        zip_discard(m_zip);
        m_zip = nullptr;
        throw Failure(QStringLiteral("файл повреждён (в архиве более %1 частей)").arg(WorkbookLimits::MaxZipEntries));
    }
}

std::int64_t ZipArchive::locate(const QString& name) const
{
    const std::int64_t index = zip_name_locate(m_zip, name.toUtf8().constData(), ZIP_FL_NOCASE);
    if (index >= 0)
        return index;
    // Some writers name entries with backslashes (xl\worksheets\sheet1.xml).
    if (!m_slashNamesBuilt) {
        m_slashNamesBuilt = true;
        const zip_int64_t count = zip_get_num_entries(m_zip, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const char* entry = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), 0);
            if (entry && std::strchr(entry, '\\'))
                m_slashNames.insert(QString::fromUtf8(entry).replace(QLatin1Char('\\'), QLatin1Char('/')).toLower(), i);
        }
    }
    return m_slashNames.value(name.toLower(), -1);
}

std::int64_t ZipArchive::sizeOf(const QString& name) const
{
    const std::int64_t index = locate(name);
    zip_stat_t stat;
    if (index < 0 || zip_stat_index(m_zip, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
        !(stat.valid & ZIP_STAT_SIZE))
        return 0;
    // The size field can lie; deflate cannot unpack more than about 1032 times what it packed.
    zip_uint64_t size = std::min<zip_uint64_t>(stat.size, WorkbookLimits::MaxEntryBytes);
    if (stat.valid & ZIP_STAT_COMP_SIZE)
        size = std::min<zip_uint64_t>(size, (stat.comp_size + 1) * 1032);
    return static_cast<std::int64_t>(size);
}

bool ZipArchive::contains(const QString& name) const
{
    return locate(name) >= 0;
}

std::unique_ptr<QIODevice> ZipArchive::open(const QString& name)
{
    const std::int64_t index = locate(name);
    if (index < 0)
        throw Failure(QStringLiteral("файл повреждён (нет части %1)").arg(name));
    zip_stat_t stat;
    if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(index), 0, &stat) == 0 &&
        (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
        throw Failure(zipErrorText(ZIP_ER_NOPASSWD));
    zip_file_t* file = zip_fopen_index(m_zip, static_cast<zip_uint64_t>(index), 0);
    if (!file)
        throw Failure(zipErrorText(zip_error_code_zip(zip_get_error(m_zip))));
    return std::make_unique<ZipEntryDevice>(*this, file);
}

QByteArray ZipArchive::read(const QString& name, std::int64_t limit)
{
    const auto device = open(name);
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const qint64 got = device->read(buffer, sizeof buffer);
        if (got <= 0)
            break;
        if (bytes.size() + got > limit)
            throw Failure(QStringLiteral("книга слишком велика (часть %1)").arg(name));
        bytes.append(buffer, got);
    }
    if (m_overrun)
        throw Failure(overrunText());
    return bytes;
}

QString ZipArchive::overrunText() const
{
    return QStringLiteral("книга слишком велика (распакованные данные превышают %1 МБ)")
        .arg(WorkbookLimits::MaxEntryBytes / (1024 * 1024));
}

QString ZipArchive::resolvePart(const QString& sourcePart, const QString& target)
{
    QString path = target;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList parts;
    if (!path.startsWith(QLatin1Char('/'))) {
        parts = sourcePart.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (!parts.isEmpty())
            parts.removeLast();
    }
    for (const QString& piece : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (piece == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (piece != QLatin1String(".")) {
            parts.append(piece);
        }
    }
    return parts.join(QLatin1Char('/'));
}
