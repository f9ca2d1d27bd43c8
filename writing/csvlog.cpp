#include "writing/csvlog.h"

#include "writing/durablefile.h"

#include <QFileInfo>

CsvLog::CsvLog(QString path, QString header) : m_path(std::move(path)), m_header(std::move(header)) {}

CsvLog::~CsvLog() = default;

void CsvLog::append(const QStringList& fields)
{
    if (!m_file) {
        const QFileInfo info(m_path);
        const bool fresh = !info.exists() || info.size() == 0;
        m_file = std::make_unique<DurableAppender>(m_path);
        if (fresh)
            m_file->append(m_header.toUtf8() + "\r\n");
    }
    m_file->append(line(fields));
}

void CsvLog::close()
{
    m_file.reset();
}

QByteArray CsvLog::line(const QStringList& fields)
{
    return fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
}
