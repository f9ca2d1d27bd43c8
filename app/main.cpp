#include "app/application.h"
#include "app/instancelock.h"
#include "app/lookandfeel.h"
#include "app/tform1.h"
#include "link/qtserialdevice.h"

#include <QApplication>
#include <QDir>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stripewell"));
    LookAndFeel::apply(app);
    InstanceLock lock(QDir::currentPath());
    if (!claimWorkingDirectory(lock))
        return 1;
    Application program(qtSerialDeviceFactory());
    program.form1->show();
    return app.exec();
}
