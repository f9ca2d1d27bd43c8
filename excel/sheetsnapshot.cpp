#include "excel/sheetsnapshot.h"

#include "base/error.h"
#include "excel/celltext.h"
#include "excel/workbooklimits.h"

#include <QDir>

SheetSnapshot::SheetSnapshot(std::shared_ptr<const SheetCells> cells, QString path, quint64 version, QString failure)
    : m_cells(std::move(cells)), m_path(std::move(path)), m_version(version), m_failure(std::move(failure))
{
}

namespace {

void checkRange(int row, int column)
{
    if (column < 1 || column > WorkbookLimits::Columns)
        throw Failure(QStringLiteral("Столбец %1 вне пределов A..Z").arg(column));
    if (row < 1)
        throw Failure(QStringLiteral("Строка %1 вне листа: строки считаются от 1").arg(row));
}

} // namespace

QString SheetSnapshot::cellText(int row, int column) const
{
    checkRange(row, column);
    if (m_path.isEmpty())
        throw Failure(notOpenMessage());
    const QString name = QDir::toNativeSeparators(m_path);
    if (!m_cells)
        throw Failure(unreadableMessage(name, m_failure));
    return textOf(*m_cells, row, column, name);
}

QString SheetSnapshot::notOpenMessage()
{
    return QStringLiteral("Книга не открыта");
}

QString SheetSnapshot::unreadableMessage(const QString& name, const QString& reason)
{
    return QStringLiteral("Книга «%1» не читается: %2").arg(name, reason);
}

QString SheetSnapshot::textOf(const SheetCells& cells, int row, int column, const QString& name)
{
    checkRange(row, column);
    if (cells.rowLimit() > 0 && row > cells.rowLimit())
        throw Failure(QStringLiteral("Строка %1 вне листа: в книге «%2» не более %3 строк")
                          .arg(row)
                          .arg(name)
                          .arg(cells.rowLimit()));
    const SheetCells::Cell* cell = cells.find(row, column);
    if (!cell)
        return cells.textRows().text(row, column);
    if (cell->kind != CellKind::FormulaNoValue)
        return cells.textOf(*cell);
    throw Failure(
        QStringLiteral("Ячейка %1 листа «%2» книги «%3» содержит формулу, значение которой в файле не сохранено")
            .arg(CellText::cellName(row, column), cells.sheetName(), name));
}
