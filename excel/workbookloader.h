#pragma once

#include "excel/filestamp.h"
#include "excel/sheetcells.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Reads workbook files on a thread of its own, so that a sheet of a million
// rows (1 to 3 s) never holds the window. Only the latest request counts: a
// request made while a file is being read is taken when that read ends, and
// the result of a read that was overtaken is dropped.
//
// A file that changes while it is read (the operator saves it again, a
// program is still writing it) is read again at once, up to three times, so
// what a request gives is never older than the file was when its read ended.
class WorkbookLoader
{
public:
    struct Result
    {
        std::shared_ptr<const SheetCells> cells; // null when the file did not read
        QString failure;                         // the reason, without the file name
        FileStamp stamp;                         // taken before the read that gave this
    };

    WorkbookLoader();
    ~WorkbookLoader(); // waits for a read under way to end
    WorkbookLoader(const WorkbookLoader&) = delete;
    WorkbookLoader& operator=(const WorkbookLoader&) = delete;

    // Asks for `path` to be read; returns at once.
    void request(const QString& path);
    // Drops the latest request: a read under way is let go, its answer never kept.
    void forget();
    // Whether the latest request has been answered; `result` takes the answer.
    bool take(Result& result);
    // Waits for the answer to the latest request.
    Result wait();
    // Waits up to `ms` for the answer to the latest request; whether it came.
    bool waitFor(int ms);
    // Whether a request is waiting or being read.
    bool busy() const;

    // Runs on the loader's thread after each read of a file and before its stamp
    // is taken again: tests change the file there to meet a read under way.
    void setAfterRead(std::function<void(const QString& path)> afterRead);

private:
    void run();
    Result read(const QString& path);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QString m_path;
    quint64 m_asked = 0;    // requests made
    quint64 m_answered = 0; // the request the answer belongs to
    Result m_answer;
    std::vector<std::shared_ptr<const SheetCells>> m_discarded; // to be let go on the loader's thread
    bool m_quit = false;
    std::function<void(const QString&)> m_afterRead;
    std::thread m_thread; // last: starts once the members above exist
};
