#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class DurableAppender;

// A CSV file of records under a header line (UTF-8, CR LF), each record on disk
// before append() returns. The file is opened at the first record, and the header
// written when the file is new or empty. A failure throws Failure and leaves the
// file with whole lines only.
class CsvLog
{
public:
    CsvLog(QString path, QString header);
    ~CsvLog();
    CsvLog(const CsvLog&) = delete;
    CsvLog& operator=(const CsvLog&) = delete;

    void append(const QStringList& fields); // fields as CsvField::encode made them
    // Lets the file go: the next record opens it again.
    void close();

    // One record as a line of the file.
    static QByteArray line(const QStringList& fields);

private:
    QString m_path;
    QString m_header;
    std::unique_ptr<DurableAppender> m_file;
};
