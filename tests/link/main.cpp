#include <QCoreApplication>
#include <QTest>

int runComPortTests(int argc, char** argv);
int runCommandSetTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int failed = 0;
    failed += runCommandSetTests(argc, argv);
    failed += runComPortTests(argc, argv);
    return failed == 0 ? 0 : 1;
}
