#pragma once

#include "excel/cellsource.h"
#include "excel/sheetcells.h"

#include <QString>
#include <memory>

// Stands in for the Excel automation link: the workbook file the operator chose.
// Reads go to the sheet that was active when the file was saved. The file is
// checked before every read and read again when it changed on disk, so values
// stay live as they were with Excel; a file that no longer reads fails the
// read instead of answering from an old copy.
class TExcelApplication : public CellSource
{
public:
    bool AutoConnect = false; // true only while a workbook is open
    bool AutoQuit = false;

    // Opens a workbook file (xlsx, xlsm, ods, xls, csv); it replaces an earlier one.
    // On failure: releases, AutoConnect false, and throws Failure naming the file and the reason.
    void openWorkbook(const QString& path); // sets AutoConnect = AutoQuit = true on success
    void release();                          // drops the workbook; AutoConnect false
    bool hasWorkbook() const;
    QString workbookPath() const;
    QString ReadCellText(int row, int column) override; // 1-based; throws Failure

private:
    struct Stamp
    {
        qint64 size = -1;
        qint64 modified = 0; // ns where the system keeps them
        qint64 changed = 0;
        qint64 node = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp stampOf(const QString& path);
    void load(const Stamp& stamp);
    const SheetCells& current();
    QString displayName() const;

    QString m_path;
    Stamp m_stamp;
    std::unique_ptr<SheetCells> m_cells; // null while the file does not read
};
