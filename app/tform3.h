#pragma once

#include "excel/texcelapplication.h"
#include "writing/tracktemplate.h"

#include <QDialog>
#include <QTimer>

#include <functional>

namespace Ui {
class TForm3;
}
class BatchSession;
class QComboBox;
class QLabel;
class QTableWidget;

// The composer "Запись": the operator builds the template of one track at a
// time, slot by slot, and sees the remaining capacity of the track. The dialog
// is modeless and stays on top, so it can stay open while cards are written;
// it edits the batch session's templates and chooses its workbook.
class TForm3 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm3(BatchSession& session, QWidget* parent = nullptr);
    ~TForm3() override;

    // What the main window's buttons for tracks 1..3 do.
    void openForTrack(int track);
    // Shows the templates in the grids.
    void showTemplateState();

    // The workbook file dialog's title and its filters.
    static QString workbookDialogTitle();
    static QString workbookDialogFilter();

    // The session's workbook, under the name the composer's code has always used.
    TExcelApplication& ExcelApplication1;

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

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void configureControls();
    void connectHandlers();
    QTableWidget* grid(int track) const;
    int visibleTrack() const;
    void slotClicked(int track);
    void showSlots(int track);
    void showRemainingCapacity(int track);
    static void showValue(QLabel* label, const QString& text);
    AddRequest addRequest() const;
    static int selectedItem(const QComboBox* box);
    static bool SpinEdit4KeyPress(QChar key);
    void showCommittedCard(int digitCount);
    void showReplacedTemplates();

    BatchSession& m_session;
    Ui::TForm3* ui;
    bool m_placed = false; // placed at the centre of the desktop when first opened
    QTimer Timer1{this};
};
