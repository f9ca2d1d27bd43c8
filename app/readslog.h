#pragma once

#include "writing/readsfile.h"

#include <QLabel>

#include <memory>

class QStatusBar;

// Every card the read tab shows goes to the reads file. A file that cannot be
// written is told once, in red in the status line, and reading goes on; the
// note goes when a line is written again.
class ReadsLog : public QLabel
{
    Q_OBJECT

public:
    explicit ReadsLog(QStatusBar* statusBar);
    ~ReadsLog() override;

    // Appends the card to the reads file at `path` (a new path starts a new file).
    void append(const QString& path, const ReadsFile::Read& read);

private:
    std::unique_ptr<ReadsFile> m_file;
};
