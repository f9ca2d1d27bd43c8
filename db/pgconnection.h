#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>

struct pg_conn;
class QSocketNotifier;

// What one statement gave: its rows as text, or the server's (or the line's) error.
struct PgResult
{
    bool ok = false;
    QString error;    // the server's message, or why the connection failed
    QString sqlState; // five characters, such as "40001"; empty when the line failed
    QList<QStringList> rows;
    int affected = 0; // rows an INSERT, UPDATE or COPY touched
    bool connectionLost = false;
};

// One connection to the database, driven by the event loop: connecting and every
// statement go out without waiting; the answer comes to a callback when the
// socket says it is there. Statements queue and go one at a time, each with its
// parameters apart from its text, so no value ever becomes SQL.
//
// The connection string is libpq's own ("service=bureau", "host=... dbname=...",
// a URI): passwords come from ~/.pgpass or PGPASSFILE, TLS from sslmode.
class PgConnection : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const PgResult&)>;

    explicit PgConnection(QObject* parent = nullptr);
    ~PgConnection() override;

    // Starts connecting; connected() or failed() says how it went.
    void open(const QString& connectionString);
    void close();
    bool isOpen() const { return m_ready; }
    // The role the server knows this connection as.
    QString user() const;
    // The role a connection string connects as: its user, else libpq's default (the login name).
    static QString userOf(const QString& connectionString);
    // Whether the open connection goes over TLS.
    bool encrypted() const;

    // A statement prepared once per connection under `name` and run with `params`
    // (a null QString is SQL NULL).
    void prepared(const QByteArray& name, const QByteArray& sql, const QStringList& params, Done done);
    // Statements without parameters (schema, LISTEN, BEGIN/COMMIT), as one text.
    void plain(const QByteArray& sql, Done done);
    // COPY ... FROM STDIN with `data` in the text format; the result is the COPY's.
    void copyIn(const QByteArray& sql, const QByteArray& data, Done done);

    // Waits in a local event loop until the queue is empty: for the command line and tests only.
    bool waitIdle(int timeoutMs);

Q_SIGNALS:
    void connected();
    void failed(const QString& why);
    void notified(const QString& channel, const QString& payload);

private:
    struct Job
    {
        enum class Kind { Prepared, Plain, Copy } kind = Kind::Plain;
        QByteArray name;
        QByteArray sql;
        QStringList params;
        QByteArray copyData;
        Done done;
    };

    void enqueue(Job job);
    void pollConnect();
    void watch(bool forWrite);
    void onReadable();
    void onWritable();
    void startNext();
    bool sendJob(Job& job);
    void collectResults();
    void finishJob(PgResult result);
    void flushOut();
    void putCopy();
    void lose(const QString& why);
    void drop(const QString& why);
    void takeNotifications();

    pg_conn* m_conn = nullptr;
    bool m_connecting = false;
    bool m_ready = false;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    std::deque<Job> m_queue;
    bool m_busy = false;         // the front job went out and its results are awaited
    bool m_preparing = false;    // the front job's statement is being prepared first
    qsizetype m_copyOffset = -1; // bytes of the front COPY's data sent; -1 when not copying
    PgResult m_pending;          // the front job's result, taken before libpq's end of results
    QList<QByteArray> m_preparedNames;
};
