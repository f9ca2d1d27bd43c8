#pragma once

#include <QString>

#include <utility>

// The settings file config.rwc: the port list position on the first line, and,
// for a port past the list's fixed entries, the device's name on a second.
namespace SettingsFile {

struct PortSetting
{
    int position = -1;  // the port dialog's list position, -1 for none
    QString deviceName; // empty: no second line
    bool operator==(const PortSetting&) const = default;
};

QString defaultPath(); // config.rwc in the working directory

// Reads the file. Throws Failure with a short text: "File not found." when
// there is no such file; "Cannot open file "<path>". <reason>." when it exists
// but cannot be read or is no regular file (a folder, pipe or device fails at
// once, never waits); "'<line>' is not a valid integer value." for a first line
// that is not a decimal integer, and "'<line>' is not a device name." for a
// second line that cannot be one, the line cut to a few dozen characters.
PortSetting readPortSetting(const QString& path);
int readPortPosition(const QString& path); // readPortSetting's position

// Replaces the file durably (see DurableFile::replace): the position and CR LF,
// then the device name and CR LF when there is one. Throws Failure on error.
void writePortSetting(const QString& path, const PortSetting& setting);
void writePortPosition(const QString& path, int position);

// The settings file as the main window uses it over one run. A file that exists
// but could not be read at start holds a port the program never saw: closing
// leaves it alone, unless the operator chose a port in this run.
class Store
{
public:
    explicit Store(QString path = defaultPath()) : m_path(std::move(path)) {}

    // readPortSetting, remembering whether the file must be kept. Throws the same.
    PortSetting load();
    // The operator confirmed a port: from now on closing saves it.
    void portChosen() { m_keepFile = false; }
    // False while an unreadable file is being kept.
    bool willSave() const { return !m_keepFile; }
    // writePortSetting, or nothing while the file is kept. Throws Failure on error.
    void save(const PortSetting& setting);

    const QString& path() const { return m_path; }
    // Another file: nothing of it was read, so nothing is kept.
    void setPath(const QString& path)
    {
        m_path = path;
        m_keepFile = false;
    }

private:
    QString m_path;
    bool m_keepFile = false;
};

} // namespace SettingsFile
