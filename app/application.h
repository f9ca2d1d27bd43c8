#pragma once

#include "link/comport.h"
#include "link/sleeper.h"

#include <memory>

class BatchSession;
class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm6;

// The program's windows around its one port, created in the start-up order:
// the main window, read settings, the composer, the port dialog, About.
class Application
{
public:
    explicit Application(SerialDeviceFactory devices, Sleeper sleeper = realSleeper(), ComPort::Clock clock = {});
    ~Application();

    ComPort port;
    // The batch of cards the windows show: lives longer than they do.
    std::unique_ptr<BatchSession> session;
    std::unique_ptr<TForm1> form1;
    TForm2* form2 = nullptr;
    TForm3* form3 = nullptr;
    TForm4* form4 = nullptr;
    TForm6* form6 = nullptr;
};
