#pragma once

// A PostgreSQL server of the test's own: a cluster made with initdb in a
// temporary folder, listening on a socket there (and on loopback TCP only when
// the test asks), stopped when the fixture goes. Run as root, its programs run
// as the postgres user.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

class ThrowawayServer
{
public:
    ThrowawayServer() : m_dir(QDir::tempPath() + QStringLiteral("/stripewell-pg-XXXXXX")) {}
    ~ThrowawayServer() { stop(); }
    ThrowawayServer(const ThrowawayServer&) = delete;
    ThrowawayServer& operator=(const ThrowawayServer&) = delete;

    // Besides the socket: nothing; 127.0.0.1 at a free port, everyone trusted; or
    // the same with TLS only, its certificate for "localhost" signed by caFile(),
    // the superuser trusted and every other role asked for its password.
    enum class Tcp { None, Plain, Tls };

    // initdb and the first start; the reason it failed, or an empty string.
    QString create(Tcp tcp = Tcp::None)
    {
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        if (::geteuid() == 0 && !ownedByPostgres(m_dir.path()))
            return QStringLiteral("no postgres user to run the server as");
        QString why = run(QStringLiteral("initdb"),
                          {QStringLiteral("-D"), data(), QStringLiteral("-U"), QStringLiteral("postgres"),
                           QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("--no-sync")});
        if (why.isEmpty() && tcp != Tcp::None)
            why = listenOnLoopback(tcp == Tcp::Tls);
        return why.isEmpty() ? start() : why;
    }

    QString start()
    {
        const QString options = QStringLiteral("-k %1 -c listen_addresses=%2 -p %3")
                                    .arg(m_dir.path(), m_tcp ? QStringLiteral("127.0.0.1") : QString())
                                    .arg(m_port);
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
            .arg(m_port)
            .arg(user, db);
    }

    // One over loopback TCP for `user` on database postgres, with `options` naming the host and sslmode.
    QString tcpConnection(const QString& user, const QString& options) const
    {
        return QStringLiteral("port=%1 user=%2 dbname=postgres connect_timeout=5 %3").arg(m_port).arg(user, options);
    }

    int port() const { return m_port; }
    // The CA that signed the server's certificate, and one that signed nothing of it.
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.crt")); }
    QString otherCaFile() const { return m_dir.filePath(QStringLiteral("other-ca.crt")); }

    // Runs SQL as the superuser through psql (setting up roles and databases).
    QString psql(const QString& sql, const QString& db = QStringLiteral("postgres"))
    {
        return run(QStringLiteral("psql"),
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                    connection(QStringLiteral("postgres"), db), QStringLiteral("-c"), sql});
    }

private:
    QString data() const { return m_dir.filePath(QStringLiteral("data")); }

    static bool ownedByPostgres(const QString& path)
    {
        const passwd* pg = ::getpwnam("postgres");
        return pg && ::chown(path.toLocal8Bit().constData(), pg->pw_uid, pg->pw_gid) == 0;
    }

    static int freePort()
    {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        int port = 0;
        if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
        if (s >= 0)
            ::close(s);
        return port;
    }

    // A self-signed CA `name`.crt, or with `signer` a certificate for "localhost" it signs.
    QString certificate(const QString& name, const QString& subject, const QString& signer = {})
    {
        QStringList args =
            QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2").split(u' ');
        args << QStringLiteral("-subj") << subject << QStringLiteral("-keyout")
             << m_dir.filePath(name + QStringLiteral(".key")) << QStringLiteral("-out")
             << m_dir.filePath(name + QStringLiteral(".crt"));
        if (!signer.isEmpty())
            args << QStringLiteral("-CA") << m_dir.filePath(signer + QStringLiteral(".crt")) << QStringLiteral("-CAkey")
                 << m_dir.filePath(signer + QStringLiteral(".key")) << QStringLiteral("-addext")
                 << QStringLiteral("subjectAltName=DNS:localhost") << QStringLiteral("-addext")
                 << QStringLiteral("basicConstraints=critical,CA:FALSE");
        return exec(QStringLiteral("openssl"), args);
    }

    QString listenOnLoopback(bool tls)
    {
        m_tcp = true;
        m_port = freePort();
        QString hba = QStringLiteral("local all all trust\n");
        if (tls) {
            QString why = certificate(QStringLiteral("ca"), QStringLiteral("/CN=Stripewell test CA"));
            if (why.isEmpty())
                why = certificate(QStringLiteral("other-ca"), QStringLiteral("/CN=Another CA"));
            if (why.isEmpty())
                why = certificate(QStringLiteral("server"), QStringLiteral("/CN=localhost"), QStringLiteral("ca"));
            if (!why.isEmpty())
                return why;
            // The server refuses a key others may read.
            const QString key = m_dir.filePath(QStringLiteral("server.key"));
            if (::chmod(key.toLocal8Bit().constData(), S_IRUSR | S_IWUSR) != 0 ||
                (::geteuid() == 0 && !ownedByPostgres(key)))
                return QStringLiteral("the server's key cannot be made its own");
            hba += QStringLiteral("hostssl all postgres 127.0.0.1/32 trust\n"
                                  "hostssl all all 127.0.0.1/32 scram-sha-256\n");
            if (!append(QStringLiteral("postgresql.conf"),
                        QStringLiteral("ssl = on\nssl_cert_file = '%1'\nssl_key_file = '%2'\n")
                            .arg(m_dir.filePath(QStringLiteral("server.crt")), key)))
                return QStringLiteral("postgresql.conf cannot be written");
        } else {
            hba += QStringLiteral("host all all 127.0.0.1/32 trust\n");
        }
        QFile::remove(QDir(data()).filePath(QStringLiteral("pg_hba.conf")));
        return append(QStringLiteral("pg_hba.conf"), hba) ? QString() : QStringLiteral("pg_hba.conf cannot be written");
    }

    bool append(const QString& file, const QString& text)
    {
        const QString path = QDir(data()).filePath(file);
        QFile f(path);
        const bool written = f.open(QIODevice::Append) && f.write(text.toUtf8()) == text.toUtf8().size();
        f.close();
        return written && (::geteuid() != 0 || ownedByPostgres(path));
    }

    QString run(const QString& program, QStringList args)
    {
        QString path = QStringLiteral("/usr/lib/postgresql/15/bin/") + program;
        if (::geteuid() == 0) {
            args.prepend(path);
            args = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} + args;
            path = QStringLiteral("runuser");
        }
        return exec(path, args, program);
    }

    static QString exec(const QString& program, const QStringList& args, QString name = {})
    {
        if (name.isEmpty())
            name = program;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return name + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll()) + p.errorString();
        return {};
    }

    QTemporaryDir m_dir;
    bool m_running = false;
    bool m_tcp = false;
    int m_port = 5432; // the socket's name only, unless on TCP
};
