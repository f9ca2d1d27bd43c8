#pragma once

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QString>
#include <cstdint>
#include <memory>

struct zip;

// A read-only zip archive (xlsx, ods) over libzip. Every byte taken out of it is
// counted against per-entry and per-archive bounds, so a zip bomb ends in a
// Failure long before it fills memory; an encrypted entry is reported as such.
class ZipArchive
{
public:
    explicit ZipArchive(const QString& path);
    explicit ZipArchive(const QByteArray& bytes); // the bytes must outlive the archive
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    bool contains(const QString& name) const;
    // The uncompressed size the archive gives for an entry (0 when unknown): a hint, never trusted.
    std::int64_t sizeOf(const QString& name) const;
    // A sequential device over the uncompressed entry; read errors and
    // overruns show as the device ending early, and as overrun() afterwards.
    std::unique_ptr<QIODevice> open(const QString& name);
    QByteArray read(const QString& name, std::int64_t limit);
    // Set when the last device stopped because an entry or the archive grew past its bound.
    bool overrun() const { return m_overrun; }
    QString overrunText() const;

    // A part name that a relationship target points at: absolute ("/xl/x.xml")
    // or relative to the folder of the part that holds the relationship.
    static QString resolvePart(const QString& sourcePart, const QString& target);

private:
    friend class ZipEntryDevice;
    void check();
    std::int64_t locate(const QString& name) const;

    zip* m_zip = nullptr;
    mutable QHash<QString, std::int64_t> m_slashNames; // backslash entry names, with slashes, lower case
    mutable bool m_slashNamesBuilt = false;
    std::int64_t m_taken = 0;
    bool m_overrun = false;
};
