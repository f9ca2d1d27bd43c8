#pragma once

#include <QDialog>

namespace Ui {
class TForm2;
}
class ComPort;
class TForm1;

// The read-settings dialog. Never shown; its track list holds the track choice.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    TForm2(ComPort& port, TForm1* mainWindow);
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
    TForm1* m_main;
};
