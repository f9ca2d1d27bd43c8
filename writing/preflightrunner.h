#pragma once

#include "excel/sheetsnapshot.h"
#include "writing/preflight.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// Runs the pre-flight of the batch ahead on a thread of its own, for a window:
// its progress and its result arrive as signals on the thread the runner lives
// on. A newer request cancels the one before it, whose result is never
// delivered; the journal is read on the pre-flight's thread too.
class PreflightRunner : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        TemplateSet templates; // a copy: nothing of the window's advances
        int choice = 0;
        SheetSnapshot sheet; // the version of the worksheet to read
        QString journalPath; // the journal whose cards count as written; empty: none
        int size = 0;        // the cards the operator means; 0: unsized
    };

    explicit PreflightRunner(QObject* parent = nullptr);
    ~PreflightRunner() override; // cancels what runs and waits for it

    // Starts a pre-flight; one under way is cancelled. Returns its number.
    int start(Request request);
    // Cancels the pre-flight under way, if any; it delivers nothing.
    void cancel();
    bool running() const;
    // The sheet version of the last request.
    quint64 sheetVersion() const { return m_sheetVersion; }

    // Waits up to `ms` for the pre-flight under way; its result when it ended
    // by then (it is still delivered by `finished` as well).
    std::optional<Preflight::Result> waitFor(int ms);

Q_SIGNALS:
    void progress(int done, int expected);
    void finished(const Preflight::Result& result);

private:
    struct Job;
    void reap();

    std::shared_ptr<Job> m_current;
    std::vector<std::shared_ptr<Job>> m_cancelled; // still ending on their threads
    int m_requests = 0;
    quint64 m_sheetVersion = 0;
};
