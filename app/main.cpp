#include "app/application.h"
#include "app/instancelock.h"
#include "app/lookandfeel.h"
#include "app/tform1.h"
#include "link/systemserialdevice.h"
#ifdef STRIPEWELL_SHARED_BATCHES
#include "db/pgconnection.h"
#include "db/schema.h"
#endif

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstring>

namespace {

// The text of --help; the manual page is made from it.
const char* const Usage = "Usage: stripewell [OPTION]...\n"
                          "Read and encode magnetic-stripe cards with an R418V card terminal on a serial port.\n"
                          "\n"
                          "The program opens its window; everything else is done there. The working\n"
                          "directory holds the settings (config.rwc), the job (job.swj, lastjob.txt) and\n"
                          "the journal of written cards (journal.csv), and one program runs in it at a\n"
                          "time: a second start in the same directory says so, brings the running\n"
                          "program's window to the front and exits without touching any file.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help       show this help and exit\n"
                          "  -v, --version    show the version and exit\n"
                          "  --init-database CONNECTION\n"
                          "                   create or upgrade the bureau's database for shared batches\n"
                          "                   and its roles stripewell_publisher and stripewell_station;\n"
                          "                   CONNECTION is a libpq connection string or service=NAME,\n"
                          "                   for a role that may create schemas and roles\n"
                          "\n"
                          "Qt's own options (-platform, -style, -display) are taken as well.\n"
                          "\n"
                          "Files:\n"
                          "  config.rwc       the serial port chosen in the port dialog\n"
                          "  job.swj          the job (track templates) that has no name of its own\n"
                          "  lastjob.txt      the job that was open last, reopened at start\n"
                          "  journal.csv      one line per card event: sent, written, not written, ...\n"
                          "  stripewell.lock  held while the program runs\n";

// --help and --version, answered before any window system is needed.
bool answeredOption(int argc, char** argv, int& status)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            status = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::puts("stripewell " STRIPEWELL_VERSION);
            status = 0;
            return true;
        }
    }
    return false;
}

#ifdef STRIPEWELL_SHARED_BATCHES
// --init-database: the schema brought to this program's version, then exit.
int initDatabase(int argc, char** argv, const char* connection)
{
    QCoreApplication app(argc, argv);
    PgConnection admin;
    QString failed;
    QObject::connect(&admin, &PgConnection::failed, [&](const QString& why) { failed = why; });
    admin.open(QString::fromLocal8Bit(connection));
    admin.waitIdle(30000);
    QString error = admin.isOpen() ? Schema::upgrade(admin) : failed;
    if (!admin.isOpen() && error.isEmpty())
        error = QStringLiteral("no answer from the server in time");
    if (!error.isEmpty()) {
        std::fprintf(stderr, "stripewell: the database was not set up: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("stripewell: the database is at version %d\n", Schema::currentVersion());
    return 0;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    if (int status = 0; answeredOption(argc, argv, status))
        return status;
#ifdef STRIPEWELL_SHARED_BATCHES
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--init-database") == 0)
            return initDatabase(argc, argv, argv[i + 1]);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stripewell"));
    QApplication::setApplicationVersion(QStringLiteral(STRIPEWELL_VERSION));
    LookAndFeel::apply(app);
    InstanceLock lock(QDir::currentPath());
    if (!claimWorkingDirectory(lock))
        return 1;
    Application program(systemSerialDeviceFactory());
    program.form1->show();
    return app.exec();
}
