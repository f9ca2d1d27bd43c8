#pragma once

#include <QDialog>

namespace Ui {
class TForm6;
}

// The About window: program name, version, purpose and the maker's web address.
class TForm6 : public QDialog
{
    Q_OBJECT

public:
    static QString webAddress();

    explicit TForm6(QWidget* parent);
    ~TForm6() override;

    void Button1Click();
    void Label9Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Ui::TForm6* ui;
};
