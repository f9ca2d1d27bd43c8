#include "writing/preflightrunner.h"

#include "writing/journalindex.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct PreflightRunner::Job
{
    int number = 0;
    std::atomic_bool cancel{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    Preflight::Result result;
    std::thread thread;
};

PreflightRunner::PreflightRunner(QObject* parent) : QObject(parent) {}

PreflightRunner::~PreflightRunner()
{
    cancel();
    for (const auto& job : m_cancelled)
        job->thread.join();
}

int PreflightRunner::start(Request request)
{
    cancel();
    reap();
    auto job = std::make_shared<Job>();
    job->number = ++m_requests;
    m_sheetVersion = request.sheet.version();
    m_current = job;
    // The thread holds the job, not the runner: the runner waits for it before it goes.
    job->thread = std::thread([this, job, request = std::move(request)]() mutable {
        Preflight::Input input;
        input.templates = std::move(request.templates);
        input.choice = request.choice;
        input.lastRow = request.sheet.lastRow();
        input.size = request.size;
        std::shared_ptr<const JournalIndex> journal;
        if (!request.journalPath.isEmpty()) {
            journal = std::make_shared<const JournalIndex>(JournalIndex::read(request.journalPath));
            input.alreadyWritten = [journal](const QString& t1, const QString& t2, const QString& t3) {
                return journal->contains(t1, t2, t3);
            };
        }
        const int number = job->number;
        const auto progress = [this, job, number](int done, int expected) {
            if (job->cancel.load(std::memory_order_relaxed))
                return;
            QMetaObject::invokeMethod(
                this,
                [this, number, done, expected] {
                    if (m_current && m_current->number == number)
                        Q_EMIT this->progress(done, expected);
                },
                Qt::QueuedConnection);
        };
        Preflight::Result result = Preflight::run(input, request.sheet, &job->cancel, progress);
        {
            std::lock_guard lock(job->mutex);
            job->result = result;
            job->done = true;
        }
        job->ended.notify_all();
        if (job->cancel.load())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, number, result = std::move(result)] {
                if (!m_current || m_current->number != number)
                    return;
                m_current->thread.join();
                m_current.reset();
                Q_EMIT finished(result);
            },
            Qt::QueuedConnection);
    });
    return job->number;
}

void PreflightRunner::cancel()
{
    if (!m_current)
        return;
    m_current->cancel = true;
    m_cancelled.push_back(std::move(m_current));
    m_current.reset();
}

bool PreflightRunner::running() const
{
    return bool(m_current);
}

std::optional<Preflight::Result> PreflightRunner::waitFor(int ms)
{
    if (!m_current)
        return std::nullopt;
    std::unique_lock lock(m_current->mutex);
    if (!m_current->ended.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_current->done; }))
        return std::nullopt;
    return m_current->result;
}

// Joins the threads of cancelled pre-flights that have ended.
void PreflightRunner::reap()
{
    std::erase_if(m_cancelled, [](const std::shared_ptr<Job>& job) {
        {
            std::lock_guard lock(job->mutex);
            if (!job->done)
                return false;
        }
        job->thread.join();
        return true;
    });
}
