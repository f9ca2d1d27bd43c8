#include <QCoreApplication>

int runEngineTests(int argc, char** argv);
int runSimulatedDeviceTests(int argc, char** argv);
int runSimulatorProgramTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int failed = 0;
    failed += runEngineTests(argc, argv);
    failed += runSimulatedDeviceTests(argc, argv);
    failed += runSimulatorProgramTests(argc, argv);
    return failed == 0 ? 0 : 1;
}
