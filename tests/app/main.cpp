#include "app/lookandfeel.h"

#include <QApplication>

int runAppTests(int argc, char** argv);
int runPlatformTests(int argc, char** argv);
int runSettingsTests(int argc, char** argv);
int runJobWindowTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stripewell"));
    LookAndFeel::apply(app);
    int failed = 0;
    failed += runAppTests(argc, argv);
    failed += runPlatformTests(argc, argv);
    failed += runSettingsTests(argc, argv);
    failed += runJobWindowTests(argc, argv);

    return failed == 0 ? 0 : 1;
}
