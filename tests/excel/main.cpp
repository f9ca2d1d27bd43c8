#include <QCoreApplication>
#include <QTest>

int runCellTextTests(int argc, char** argv);
int runWorkbookTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int status = runCellTextTests(argc, argv);
    status |= runWorkbookTests(argc, argv);
    return status;
}
