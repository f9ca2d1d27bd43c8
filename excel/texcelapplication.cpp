#include "excel/texcelapplication.h"

#include "base/error.h"

#include <QDir>

void TExcelApplication::openWorkbook(const QString& path)
{
    startOpening(path);
    finishOpening();
}

void TExcelApplication::startOpening(const QString& path)
{
    release();
    m_path = path;
    m_opening = true;
    load();
}

void TExcelApplication::finishOpening()
{
    if (!m_opening)
        return;
    m_opening = false;
    if (m_loading)
        keep(m_loader.wait());
    if (!m_current.cells) {
        const QString message =
            QStringLiteral("Не удалось открыть книгу «%1»: %2").arg(displayName(), m_current.failure);
        release();
        throw Failure(message);
    }
    AutoConnect = true;
    AutoQuit = true;
}

void TExcelApplication::release()
{
    if (m_loading)
        m_loader.forget(); // its answer belongs to the file being dropped: nobody waits for it
    m_loading = false;
    m_opening = false;
    m_current = {};
    m_path.clear();
    AutoConnect = false;
}

bool TExcelApplication::hasWorkbook() const
{
    return !m_path.isEmpty();
}

QString TExcelApplication::workbookPath() const
{
    return m_path;
}

QString TExcelApplication::displayName() const
{
    return QDir::toNativeSeparators(m_path);
}

void TExcelApplication::load()
{
    // The old sheet is not read again once a newer version is asked for.
    m_current.cells.reset();
    m_loading = true;
    m_loader.request(m_path);
}

void TExcelApplication::keep(WorkbookLoader::Result result)
{
    m_current = std::move(result);
    m_loading = false;
    ++m_version;
}

void TExcelApplication::checkFile()
{
    if (!hasWorkbook() || !ready())
        return;
    // A read under way has its own check at its end, so a file is checked only between reads.
    if (!m_current.cells || !(FileStamp::of(m_path) == m_current.stamp))
        load();
}

bool TExcelApplication::ready()
{
    if (!m_loading)
        return true;
    WorkbookLoader::Result result;
    if (!m_loader.take(result))
        return false;
    keep(std::move(result));
    return true;
}

bool TExcelApplication::freshWithin(int ms)
{
    checkFile();
    if (m_loading)
        m_loader.waitFor(ms);
    return ready();
}

// Waits for a read under way, after a check when every read checks the file.
void TExcelApplication::settle()
{
    if (m_check == FileCheck::BeforeEveryRead)
        checkFile();
    if (m_loading)
        keep(m_loader.wait());
}

SheetSnapshot TExcelApplication::snapshot()
{
    if (!hasWorkbook())
        return {};
    settle();
    return SheetSnapshot(m_current.cells, m_path, m_version, m_current.failure);
}

QString TExcelApplication::ReadCellText(int row, int column)
{
    if (!hasWorkbook())
        return SheetSnapshot().cellText(row, column); // the range, then "Книга не открыта"
    settle();
    if (!m_current.cells)
        return SheetSnapshot({}, m_path, m_version, m_current.failure).cellText(row, column); // throws
    return SheetSnapshot::textOf(*m_current.cells, row, column, displayName());
}
