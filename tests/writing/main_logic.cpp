#include <QCoreApplication>

int runGenerationTests(int argc, char** argv);
int runTemplateTests(int argc, char** argv);
int runJobTests(int argc, char** argv);
int runJournalTests(int argc, char** argv);
int runVerificationTests(int argc, char** argv);
int runPreflightTests(int argc, char** argv);
int runSessionTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int failed = 0;
    failed += runTemplateTests(argc, argv);
    failed += runGenerationTests(argc, argv);
    failed += runJobTests(argc, argv);
    failed += runJournalTests(argc, argv);
    failed += runVerificationTests(argc, argv);
    failed += runPreflightTests(argc, argv);
    failed += runSessionTests(argc, argv);
    return failed == 0 ? 0 : 1;
}
