#pragma once

#include <QDialog>

namespace Ui {
class TForm4;
}
class ComPort;

// The port dialog: the operator picks the port and opens it. The list holds
// "COM1".."COM8", then the serial devices the system has (see PortList).
class TForm4 : public QDialog
{
    Q_OBJECT

public:
    TForm4(ComPort& port, QWidget* parent);
    ~TForm4() override;

    // The list position the settings file stores: 0..7 for "COM1".."COM8", a
    // device past them, or -1 when no entry is selected.
    int portPosition() const;
    // The name of the selected device entry; empty for "COM1".."COM8" and for no selection.
    QString portName() const;
    // Selects a position; a device position is found again by `name`, and one
    // that is not plugged in now stays in the list as remembered. Anything else
    // leaves no selection and an empty box.
    void selectPortPosition(int position, const QString& name = QString());
    // Lists the devices again, keeping the choice.
    void refreshPortList();

    // The port connection sequence; on failure the dialog says so and stays open.
    void Button1Click();
    void Button2Click();

Q_SIGNALS:
    void portOpened(const QString& name);
    void portNotOpened(const QString& name);

protected:
    void showEvent(QShowEvent* event) override;

private:
    int addEntry(const QString& name, const QString& description);
    int findEntry(const QString& name) const;
    void selectTypedEntry();
    void showDescription();

    Ui::TForm4* ui;
    ComPort& m_port;
};
