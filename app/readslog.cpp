#include "app/readslog.h"

#include <QStatusBar>

ReadsLog::ReadsLog(QStatusBar* statusBar) : QLabel(statusBar)
{
    setObjectName(QStringLiteral("ReadsStatusLabel"));
    setMaximumWidth(360);
    setStyleSheet(QStringLiteral("QLabel { color: #b3261e; }"));
    statusBar->addPermanentWidget(this);
    hide();
}

ReadsLog::~ReadsLog() = default;

void ReadsLog::append(const QString& path, const ReadsFile::Read& read)
{
    if (!m_file || m_file->path() != path)
        m_file = std::make_unique<ReadsFile>(path);
    const QString problem = m_file->append(read);
    if (!problem.isEmpty()) {
        setToolTip(problem);
        setAccessibleDescription(problem);
        setText(fontMetrics().elidedText(problem, Qt::ElideRight, 350));
        show();
    } else if (!m_file->failing()) {
        hide();
        clear();
    }
}
