#include "app/application.h"

#include "app/tform1.h"
#include "app/tform2.h"
#include "app/tform3.h"
#include "app/tform4.h"
#include "app/tform6.h"
#include "writing/batchsession.h"

#include <QScreen>

Application::Application(SerialDeviceFactory devices, Sleeper sleeper, ComPort::Clock clock)
    : port(std::move(devices), std::move(clock))
{
    // The dialogs are children of the main window, so they live and die with it.
    session = std::make_unique<BatchSession>(port, std::move(sleeper));
    form1 = std::make_unique<TForm1>(port, *session);
    form1->setObjectName(QStringLiteral("TForm1"));
    form2 = new TForm2(*session, form1.get());
    form3 = new TForm3(*session, form1.get());
    form4 = new TForm4(port, form1.get());
    form6 = new TForm6(form1.get());
    form1->setForms(form2, form3, form4, form6);
    // The main window opens in the centre of the desktop.
    if (QScreen* screen = form1->screen())
        form1->move(screen->availableGeometry().center() - form1->rect().center());
}

Application::~Application() = default;
