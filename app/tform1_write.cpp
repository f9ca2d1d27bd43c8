// The write tab's handlers of the main window.
#include "app/tform1.h"
#include "ui_TForm1.h"

class WriteLoop
{
};

TForm1::~TForm1()
{
    delete ui;
}

void TForm1::SpeedButton5Click() {}
void TForm1::SpeedButton9Click() {}
void TForm1::Timer2Timer() {}
void TForm1::SpeedButton11Click() {}
void TForm1::SpeedButton12Click() {}
void TForm1::SpeedButton13Click() {}
void TForm1::stopWriteRunForOverLongText() {}
void TForm1::openComposer(int) {}
