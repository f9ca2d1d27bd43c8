#include "app/lookandfeel.h"

#include <QApplication>

int runReadingTests(int argc, char** argv);
int runSimulatorProgramTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stripewell"));
    LookAndFeel::apply(app);
    int failed = 0;

    failed += runReadingTests(argc, argv);
    failed += runSimulatorProgramTests(argc, argv);
    return failed == 0 ? 0 : 1;
}
