#include "excel/texcelapplication.h"

#include "excel/celltext.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "link/error.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

void TExcelApplication::openWorkbook(const QString& path)
{
    release();
    m_path = path;
    try {
        load(stampOf(m_path));
    } catch (const Failure& failure) {
        const QString name = displayName();
        release();
        throw Failure(QStringLiteral("Не удалось открыть книгу «%1»: %2").arg(name, failure.text()));
    }
    AutoConnect = true;
    AutoQuit = true;
}

void TExcelApplication::release()
{
    m_cells.reset();
    m_path.clear();
    m_stamp = {};
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

// Runs before every read, so it must cost about a system call: QFileInfo's
// times go through time-zone conversion, which would take most of a read.
TExcelApplication::Stamp TExcelApplication::stampOf(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return {static_cast<qint64>(status.st_size),
            static_cast<qint64>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
            static_cast<qint64>(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec,
            static_cast<qint64>(status.st_ino)};
#else
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {info.size(), info.lastModified().toMSecsSinceEpoch(), info.metadataChangeTime().toMSecsSinceEpoch(), 0};
#endif
}

// `stamp` is taken before reading, so a change made during the read shows as a
// change at the next read.
void TExcelApplication::load(const Stamp& stamp)
{
    m_cells.reset();
    m_stamp = stamp;
    m_cells = std::make_unique<SheetCells>(WorkbookReader::readFile(m_path));
}

const SheetCells& TExcelApplication::current()
{
    if (!hasWorkbook())
        throw Failure(QStringLiteral("Книга не открыта"));
    const Stamp stamp = stampOf(m_path);
    if (!m_cells || !(stamp == m_stamp)) {
        try {
            load(stamp);
        } catch (const Failure& failure) {
            throw Failure(QStringLiteral("Книга «%1» не читается: %2").arg(displayName(), failure.text()));
        }
    }
    return *m_cells;
}

QString TExcelApplication::ReadCellText(int row, int column)
{
    if (column < 1 || column > WorkbookLimits::Columns)
        throw Failure(QStringLiteral("Столбец %1 вне пределов A..Z").arg(column));
    if (row < 1)
        throw Failure(QStringLiteral("Строка %1 вне листа: строки считаются от 1").arg(row));
    const SheetCells& cells = current();
    if (cells.rowLimit() > 0 && row > cells.rowLimit())
        throw Failure(QStringLiteral("Строка %1 вне листа: в книге «%2» не более %3 строк")
                          .arg(row)
                          .arg(displayName())
                          .arg(cells.rowLimit()));
    const SheetCells::Cell* cell = cells.find(row, column);
    if (!cell)
        return cells.textRows().text(row, column);
    if (cell->kind != CellKind::FormulaNoValue)
        return cells.textOf(*cell);
    throw Failure(QStringLiteral("Ячейка %1 листа «%2» книги «%3» содержит формулу, значение которой в файле не сохранено")
                      .arg(CellText::cellName(row, column), cells.sheetName(), displayName()));
}
