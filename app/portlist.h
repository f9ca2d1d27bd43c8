#pragma once

#include <QDir>
#include <QList>
#include <QString>

#include <functional>

// The serial devices the system has right now, for the port dialog's list
// after "COM1".."COM8". A device is named by its link in /dev/serial/by-id
// where it has one: that name stays the same whichever USB socket the adapter
// is plugged into and whatever order adapters appear in, so a remembered choice
// finds the same adapter at the next start.
namespace PortList {

struct Entry
{
    QString name;        // what the port box holds and what is opened
    QString description; // the adapter as the system describes it, and its device
    friend bool operator==(const Entry&, const Entry&) = default;
};

// The devices found, in the order the system lists them.
QList<Entry> devices();

// The link in `byIdDir` that leads to `systemLocation`, or `systemLocation` itself.
QString stableName(const QString& systemLocation, const QDir& byIdDir);

// Replaces the system's list (tests, screenshots); an empty function restores it.
void setDeviceSource(std::function<QList<Entry>()> source);

} // namespace PortList
