#pragma once

#include "excel/texcelapplication.h"
#include "link/tracks_write.h"
#include "writing/tracktemplate.h"

#include <QDialog>
#include <QTimer>

#include <functional>

namespace Ui {
class TForm3;
}
class CellSource;
class QComboBox;
class QLabel;
class QTableWidget;

// The composer "Запись": the operator builds the template of one track at a
// time, slot by slot, and sees the remaining capacity of the track. The dialog
// is modeless and stays on top, so it can stay open while cards are written;
// it owns the program's templates and the workbook source that its worksheet
// slots and the generator read.
class TForm3 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    // What the main window's buttons for tracks 1..3 do.
    void openForTrack(int track);
    // Shows the committed template in the grids; the write loop calls it after
    // each card it commits, so the slots are seen to advance.
    void showTemplateState();

    // The next card of a track choice, composed on a copy of the template;
    // `commit` makes it the template and puts the digit count of the last track
    // composed into SpinEdit3. Throws Failure and changes nothing when the card
    // cannot be composed.
    Tracks_Write::StagedCard stageCard(int choice);

    // Puts a job's templates in place of the live ones (the composer keeps its
    // own track) and shows them.
    void setTemplates(const TemplateSet& templates);

    const TemplateSet& templates() const { return m_templates; }
    TemplateSet& templates() { return m_templates; }

    // Where worksheet slots are read; null means ExcelApplication1. For tests.
    void setCellSource(CellSource* source) { m_cellSource = source; }
    // Replaces the workbook file dialog; returns the chosen path, empty when cancelled. For tests.
    static std::function<QString(QWidget*)> chooseWorkbookFile;
    // The workbook file dialog's title and its filters.
    static QString workbookDialogTitle();
    static QString workbookDialogFilter();

    TExcelApplication ExcelApplication1;

    void FormShow();
    void FormHide();
    void ComboBox1Change();
    void Button1Click();
    void Button3Click();
    void Button2Click();
    void StringGrid1Click();
    void StringGrid2Click();
    void StringGrid3Click();
    void SpinEdit4Change();
    void Timer1Timer();
    void SpeedButton1Click();

Q_SIGNALS:
    // The operator changed the templates or the workbook (Add, Delete, a
    // workbook chosen or dropped), so the job is saved. Composing a card does
    // not emit it: that card counts only once it is written.
    void templatesChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void configureControls();
    void connectHandlers();
    QTableWidget* grid(int track) const;
    int visibleTrack() const { return m_templates.CurrentTrack; }
    void slotClicked(int track);
    void showSlots(int track);
    void showRemainingCapacity(int track);
    static void showValue(QLabel* label, const QString& text);
    AddRequest addRequest() const;
    static int selectedItem(const QComboBox* box);
    static bool SpinEdit4KeyPress(QChar key);
    CellSource& cells();

    Ui::TForm3* ui;
    TemplateSet m_templates;
    CellSource* m_cellSource = nullptr;
    bool m_placed = false; // placed at the centre of the desktop when first opened
    QTimer Timer1{this};
};
