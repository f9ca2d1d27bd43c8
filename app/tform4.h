#pragma once

#include <QDialog>

namespace Ui {
class TForm4;
}
class ComPort;

// The port dialog: the operator picks the port and opens it.
class TForm4 : public QDialog
{
    Q_OBJECT

public:
    TForm4(ComPort& port, QWidget* parent);
    ~TForm4() override;

    // The list position the settings file stores: 0..7, or -1 when no entry is selected.
    int portPosition() const;
    // Selects a position; one outside 0..7 leaves no selection and an empty box.
    void selectPortPosition(int position);

    // The port connection sequence; on failure the dialog says so and stays open.
    void Button1Click();
    void Button2Click();

    Ui::TForm4* ui;

Q_SIGNALS:
    // The operator confirmed a port and it opened.
    void portConfirmed();

private:
    ComPort& m_port;
};
