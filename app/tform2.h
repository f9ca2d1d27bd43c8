#pragma once

#include <QDialog>

namespace Ui {
class TForm2;
}
class BatchSession;
class ComPort;
class TForm1;

// The read-settings dialog. Never shown; its track list shows the batch
// session's track choice and follows it.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    TForm2(ComPort& port, BatchSession& session, TForm1* mainWindow);
    ~TForm2() override;

    int trackChoice() const;
    QString trackChoiceText() const;
    void setTrackChoice(int choice);

    // Shows the choice in the main window and, on the read tab, lays its read command into SendBuffer.
    void ApplyTrackChoice();
    void Button1Click();

    Ui::TForm2* ui;

private:
    ComPort& m_port;
    BatchSession& m_session;
    TForm1* m_main;
};
