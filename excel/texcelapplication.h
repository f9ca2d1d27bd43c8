#pragma once

#include "excel/cellsource.h"
#include "excel/sheetsnapshot.h"
#include "excel/workbookloader.h"

#include <QString>
#include <memory>

// Stands in for the Excel automation link: the workbook file the operator chose.
// Reads go to the sheet that was active when the file was saved. Values stay
// live as they were with Excel: a file changed on disk is read again, on the
// loader's thread, and a read made meanwhile waits for it, so no read answers
// from an old copy; a file that no longer reads fails the read.
//
// When the file is checked: by default before every read (one stat() each).
// A window that calls checkFile() once a tick switches that off with
// setFileCheck(FileCheck::WhenAsked), and asks ready() before it reads, so
// that its tick never waits for a reload.
//
// The object belongs to one thread (the window's); other threads read snapshots.
class TExcelApplication : public CellSource
{
public:
    enum class FileCheck { BeforeEveryRead, WhenAsked };

    bool AutoConnect = false; // true only while a workbook is open
    bool AutoQuit = false;

    // Opens a workbook file (xlsx, xlsm, ods, xls, csv); it replaces an earlier one.
    // On failure: releases, AutoConnect false, and throws Failure naming the file and the reason.
    void openWorkbook(const QString& path); // sets AutoConnect = AutoQuit = true on success
    // openWorkbook in two halves, so that the window is not held while a big
    // file is read: startOpening returns at once; once ready(), finishOpening
    // ends as openWorkbook would (it waits when called sooner).
    void startOpening(const QString& path);
    void finishOpening();
    bool opening() const { return m_opening; }
    void release(); // drops the workbook; AutoConnect false
    bool hasWorkbook() const;
    QString workbookPath() const;
    QString ReadCellText(int row, int column) override; // 1-based; throws Failure

    void setFileCheck(FileCheck check) { m_check = check; }
    FileCheck fileCheck() const { return m_check; }
    // One stat() of the file; a change, or a last read that failed, starts a
    // read of it in the background. Returns at once.
    void checkFile();
    // False while the file is being read: a cell read now would wait for it.
    bool ready();
    // One check of the file, then up to `ms` for a read of it under way: whether
    // the cells are the file's as it stands now.
    bool freshWithin(int ms);
    // The sheet as the next cell read would see it (waiting for a read under
    // way), to be read on another thread; its reads fail as this one's would.
    SheetSnapshot snapshot();

    // The loader, for tests that meet a read under way.
    WorkbookLoader& loader() { return m_loader; }

private:
    void load();
    void settle();
    void keep(WorkbookLoader::Result result);
    QString displayName() const;

    QString m_path;
    FileCheck m_check = FileCheck::BeforeEveryRead;
    bool m_loading = false; // a request of ours has no answer yet
    bool m_opening = false; // started, and not yet finished
    WorkbookLoader::Result m_current;
    quint64 m_version = 0;
    WorkbookLoader m_loader;
};
