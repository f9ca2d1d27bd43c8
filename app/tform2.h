#pragma once

#include <QDialog>

namespace Ui {
class TForm2;
}
class BatchSession;

// The read-settings dialog. Never shown; its track list shows the batch
// session's track choice and follows it.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    TForm2(BatchSession& session, QWidget* parent);
    ~TForm2() override;

    int trackChoice() const;
    QString trackChoiceText() const;
    void setTrackChoice(int choice);

    // Announces the choice (the main window shows it and, on the read tab, lays its
    // read command into SendBuffer) and hides the dialog.
    void ApplyTrackChoice();
    void Button1Click();

Q_SIGNALS:
    void trackChoiceApplied();

private:
    Ui::TForm2* ui;
    BatchSession& m_session;
};
