#pragma once

#include "writing/preflight.h"
#include "writing/preflightrunner.h"

#include <QDialog>
#include <QTimer>

#include <functional>

class BatchModel;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class BatchSession;

// "Просмотр партии": the batch ahead as the pre-flight finds it, one line a
// card (its number, source row, the texts of the carried tracks and its
// problem), with the problems easy to find and the list saved as CSV. It
// follows the templates, the track choice, the batch's size and the workbook on
// disk. Without a size, a batch that reads no worksheet shows its first cards.
class PreviewWindow : public QDialog
{
    Q_OBJECT

public:
    // `size`: the cards the operator means (0 or none: to the end of the data).
    PreviewWindow(QWidget* parent, BatchSession& session, std::function<int()> choice,
                  std::function<QString()> journalPath, std::function<int()> size = {});
    ~PreviewWindow() override;

    // Starts a pre-flight of the batch as it stands now.
    void refresh();
    // One look at the workbook, the templates and the choice; a change refreshes.
    void checkForChanges();
    // "К первой проблеме", "Только проблемы", "Сохранить в CSV…".
    void goToFirstProblem();
    void showProblemsOnly(bool only);
    void saveCsv();
    // The list as CSV, every card of the batch.
    QByteArray csv() const;

    const Preflight::Result& result() const { return m_result; }
    bool running() const { return m_runner.running(); }
    QTableView* table() const { return m_table; }
    QString summary() const;
    // A problem as the window and the question at "Записать" name it, and the
    // row and cell it names after its card: " (строка 4, ячейка A4)".
    static QString issueLine(const Preflight::Issue& issue);
    static QString issueWhere(const Preflight::Issue& issue);

Q_SIGNALS:
    void updated(); // a pre-flight ended and its result is shown

private:
    void setUpControls();
    void showProgress(int done, int expected);
    void showResult(const Preflight::Result& result);
    void cancelRun();
    int sizeNow() const { return m_size ? m_size() : 0; }

    BatchSession& m_session;
    std::function<int()> m_choice;
    std::function<QString()> m_journalPath;
    std::function<int()> m_size;
    PreflightRunner m_runner;
    Preflight::Result m_result;
    // What the shown (or running) pre-flight was made from.
    TemplateSet m_templates;
    int m_shownChoice = -1;
    int m_shownSize = 0;
    quint64 m_version = 0;
    bool m_pending = false; // a refresh waits for the workbook's read

    BatchModel* m_model = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_summary = nullptr;
    QCheckBox* m_problemsOnly = nullptr;
    QPushButton* m_firstProblem = nullptr;
    QPushButton* m_save = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QTimer m_check;  // looks at the workbook and the templates
    QTimer m_moment; // the progress shows once a pre-flight takes longer than this
};
