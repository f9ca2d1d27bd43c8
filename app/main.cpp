#include "app/application.h"
#include "app/lookandfeel.h"
#include "app/tform1.h"
#include "link/qtserialdevice.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stripewell"));
    LookAndFeel::apply(app);
    Application program(qtSerialDeviceFactory());
    program.form1->show();
    return app.exec();
}
