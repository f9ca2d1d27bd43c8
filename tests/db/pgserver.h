#pragma once

// A PostgreSQL server of the test's own: a cluster made with initdb in a
// temporary folder, listening on a socket there and on no TCP port, stopped
// when the fixture goes. Run as root, its programs run as the postgres user.

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

class ThrowawayServer
{
public:
    ThrowawayServer() : m_dir(QDir::tempPath() + QStringLiteral("/stripewell-pg-XXXXXX")) {}
    ~ThrowawayServer() { stop(); }
    ThrowawayServer(const ThrowawayServer&) = delete;
    ThrowawayServer& operator=(const ThrowawayServer&) = delete;

    // initdb and the first start; the reason it failed, or an empty string.
    QString create()
    {
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        if (::geteuid() == 0) {
            const passwd* pg = ::getpwnam("postgres");
            if (!pg || ::chown(m_dir.path().toLocal8Bit().constData(), pg->pw_uid, pg->pw_gid) != 0)
                return QStringLiteral("no postgres user to run the server as");
        }
        const QString why = run(QStringLiteral("initdb"),
                                {QStringLiteral("-D"), data(), QStringLiteral("-U"), QStringLiteral("postgres"),
                                 QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("--no-sync")});
        return why.isEmpty() ? start() : why;
    }

    QString start()
    {
        const QString options = QStringLiteral("-k %1 -c listen_addresses= -p %2").arg(m_dir.path()).arg(Port);
        const QString why = run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(), QStringLiteral("-l"),
                                                           m_dir.filePath(QStringLiteral("log")), QStringLiteral("-o"),
                                                           options, QStringLiteral("-w"), QStringLiteral("start")});
        m_running = why.isEmpty();
        return why;
    }

    void stop()
    {
        if (m_running)
            run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(), QStringLiteral("-m"), QStringLiteral("fast"),
                                           QStringLiteral("-w"), QStringLiteral("stop")});
        m_running = false;
    }

    // A libpq connection string for `user` on database `db`.
    QString connection(const QString& user, const QString& db = QStringLiteral("postgres")) const
    {
        return QStringLiteral("host=%1 port=%2 user=%3 dbname=%4 connect_timeout=5")
            .arg(m_dir.path())
            .arg(Port)
            .arg(user, db);
    }

    // Runs SQL as the superuser through psql (setting up roles and databases).
    QString psql(const QString& sql, const QString& db = QStringLiteral("postgres"))
    {
        return run(QStringLiteral("psql"),
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                    connection(QStringLiteral("postgres"), db), QStringLiteral("-c"), sql});
    }

private:
    static constexpr int Port = 5432;

    QString data() const { return m_dir.filePath(QStringLiteral("data")); }

    QString run(const QString& program, QStringList args)
    {
        QString path = QStringLiteral("/usr/lib/postgresql/15/bin/") + program;
        if (::geteuid() == 0) {
            args.prepend(path);
            args = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} + args;
            path = QStringLiteral("runuser");
        }
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(path, args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll()) + p.errorString();
        return {};
    }

    QTemporaryDir m_dir;
    bool m_running = false;
};
