#include <QApplication>

int runFrameTests(int argc, char** argv);
int runWriteLoopTests(int argc, char** argv);
int runSimulatedTests(int argc, char** argv);
int runSoakTests(int argc, char** argv);
int runPtyTests(int argc, char** argv);
int runWindowTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int failed = 0;
    failed += runFrameTests(argc, argv);
    failed += runWriteLoopTests(argc, argv);
    failed += runSimulatedTests(argc, argv);
    failed += runSoakTests(argc, argv);
#ifdef STRIPEWELL_SIM_PROGRAM
    failed += runPtyTests(argc, argv);
    failed += runWindowTests(argc, argv);
#endif
    return failed == 0 ? 0 : 1;
}
