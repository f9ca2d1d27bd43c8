#pragma once

#include "writing/journalindex.h"
#include "writing/verification.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

// Cards swiped back on the read tab, checked against the journal: the switch on
// the tab, and below the tabs the outcome of the last card in colour and words,
// the counts, the scope and the report. It reads the journal when switched on
// and when the scope changes, and never writes to it.
class VerifyPanel : public QWidget
{
    Q_OBJECT

public:
    // Where the journal is, and the open job as the journal names it.
    struct Sources
    {
        std::function<QString()> journalPath;
        std::function<QString()> openJob;
    };

    // The panel goes in `parent` (below the tabs); its switch on `readTab`.
    VerifyPanel(QWidget* parent, QWidget* readTab, Sources sources);
    ~VerifyPanel() override;

    // Room for a differing card's texts whole, each on a line of its own.
    static constexpr int PanelHeight = 200;

    bool isOn() const;
    // Checks a card read and shows the outcome; returns the record for the reads
    // file, empty while verification is off.
    QString check(int trackChoice, const JournalIndex::Texts& shown);
    // Writes the report of cards not swiped back and cards that differ. Tells the operator when it cannot.
    void saveReport();

    QCheckBox* switchBox() const { return m_switch; }
    QComboBox* scopeBox() const { return m_scope; }
    QLabel* outcomeLabel() const { return m_outcome; }
    QLabel* detailLabel() const { return m_detail; }
    QLabel* countsLabel() const { return m_counts; }
    QPushButton* reportButton() const { return m_report; }
    const Verification* verification() const { return m_verification.get(); }

Q_SIGNALS:
    // Verification was switched on or off: the window fits the panel.
    void switched(bool on);

private:
    void readJournal();
    void showOutcome(const QString& words, const QString& detail, const char* colour, const QString& shown = {});
    QString differingTexts(const Verification::Result& r) const;
    void showCounts();
    JournalIndex::Scope scope() const;
    QString askReportFile();

    Sources m_sources;
    QCheckBox* m_switch;
    QLabel* m_outcome;
    QLabel* m_detail;
    QLabel* m_counts;
    QComboBox* m_scope;
    QPushButton* m_report;
    JournalIndex m_index;
    std::unique_ptr<Verification> m_verification;
};
