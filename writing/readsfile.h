#pragma once

#include "writing/csvlog.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

// Every card the read tab shows, kept in a CSV file beside the journal (UTF-8,
// a header line first), each line on disk before the next card is read. A file
// that cannot be written does not stop reading: the first failure is told,
// later ones are not until a line has been written again.
class ReadsFile
{
public:
    struct Read
    {
        QDateTime time;                 // now, when not given
        QString trackChoice;            // as the read tab names it: "Track 1 & 2"
        QString track1, track2, track3; // as shown; empty for tracks not read
        QString verification;           // empty when verification is off
    };

    using Clock = std::function<QDateTime()>;

    explicit ReadsFile(QString path, Clock clock = {});
    ~ReadsFile();

    const QString& path() const { return m_path; }
    // Appends one line and syncs it. Returns the message to show when this is
    // the first line of a run of failures, else an empty text.
    QString append(Read read);
    bool failing() const { return m_failing; }

    static QString header();
    static QByteArray line(const Read& read);

    // A field of our CSV files: a text a spreadsheet would take for a formula
    // (beginning with "=", "+", "-", "@", a tab or a carriage return) gets a
    // leading "'", as does one that begins with "'" so that the mark reads back
    // unambiguously; a field with a comma, a quote or a line break is quoted
    // with its quotes doubled (RFC 4180).
    static QString csvField(const QString& text);
    // The text a field held before csvField, once the CSV quoting is undone.
    static QString fieldText(const QString& field);

private:
    static QStringList fields(const Read& read);

    QString m_path;
    Clock m_clock;
    CsvLog m_log;
    bool m_failing = false;
};
