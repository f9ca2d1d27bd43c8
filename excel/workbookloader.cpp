#include "excel/workbookloader.h"

#include "base/error.h"
#include "excel/workbookreader.h"

#include <chrono>
#include <utility>

WorkbookLoader::WorkbookLoader() : m_thread([this] { run(); }) {}

WorkbookLoader::~WorkbookLoader()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void WorkbookLoader::request(const QString& path)
{
    {
        const std::lock_guard lock(m_mutex);
        m_path = path;
        ++m_asked;
        // Nobody takes the old answer any more: its sheet goes now, not after the
        // new one is read, and on this thread (unmapping a big sheet takes a while).
        if (m_answer.cells)
            m_discarded.push_back(std::move(m_answer.cells));
        m_answer = {};
    }
    m_changed.notify_all();
}

void WorkbookLoader::forget()
{
    {
        const std::lock_guard lock(m_mutex);
        m_path.clear();
        m_answered = ++m_asked;
        if (m_answer.cells)
            m_discarded.push_back(std::move(m_answer.cells));
        m_answer = {};
    }
    m_changed.notify_all();
}

bool WorkbookLoader::take(Result& result)
{
    const std::lock_guard lock(m_mutex);
    if (m_answered != m_asked)
        return false;
    result = m_answer;
    return true;
}

WorkbookLoader::Result WorkbookLoader::wait()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_answered == m_asked; });
    return m_answer;
}

bool WorkbookLoader::waitFor(int ms)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_answered == m_asked; });
}

bool WorkbookLoader::busy() const
{
    const std::lock_guard lock(m_mutex);
    return m_answered != m_asked;
}

void WorkbookLoader::setAfterRead(std::function<void(const QString&)> afterRead)
{
    const std::lock_guard lock(m_mutex);
    m_afterRead = std::move(afterRead);
}

void WorkbookLoader::run()
{
    std::unique_lock lock(m_mutex);
    quint64 taken = 0;
    for (;;) {
        m_changed.wait(lock, [&] { return m_quit || m_asked != taken; });
        if (m_quit)
            return;
        taken = m_asked;
        const QString path = m_path;
        std::vector<std::shared_ptr<const SheetCells>> discarded = std::exchange(m_discarded, {});
        lock.unlock();
        discarded.clear();
        if (path.isEmpty()) { // forgotten: nothing to read
            lock.lock();
            continue;
        }
        Result result = read(path);
        lock.lock();
        if (taken != m_asked) {
            // Overtaken: the newer request is read next; this sheet goes outside the lock.
            lock.unlock();
            result = {};
            lock.lock();
            continue;
        }
        m_answer = std::move(result);
        m_answered = taken;
        m_changed.notify_all();
    }
}

WorkbookLoader::Result WorkbookLoader::read(const QString& path)
{
    constexpr int Attempts = 3;
    Result result;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        result = {};
        result.stamp = FileStamp::of(path);
        try {
            result.cells = std::make_shared<const SheetCells>(WorkbookReader::readFile(path));
        } catch (const Failure& failure) {
            result.failure = failure.text();
        } catch (const std::bad_alloc&) {
            result.failure = QStringLiteral("не хватает памяти");
        }
        std::function<void(const QString&)> afterRead;
        {
            const std::lock_guard lock(m_mutex);
            afterRead = m_afterRead;
        }
        if (afterRead)
            afterRead(path);
        if (FileStamp::of(path) == result.stamp)
            break;
    }
    // Still changing after the last attempt: the stamp from before that read
    // makes the next check read it again.
    return result;
}
