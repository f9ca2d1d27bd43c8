#include "db/pgconnection.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <libpq-fe.h>

#include <vector>

namespace {

QString trimmedMessage(const char* text)
{
    return QString::fromUtf8(text).trimmed();
}

} // namespace

PgConnection::PgConnection(QObject* parent) : QObject(parent) {}

PgConnection::~PgConnection()
{
    m_read.reset();
    m_write.reset();
    if (m_conn)
        PQfinish(m_conn);
}

void PgConnection::open(const QString& connectionString)
{
    close();
    m_conn = PQconnectStart(connectionString.toUtf8().constData());
    if (!m_conn || PQstatus(m_conn) == CONNECTION_BAD) {
        const QString why = m_conn ? trimmedMessage(PQerrorMessage(m_conn)) : QStringLiteral("out of memory");
        // Said from the event loop, as every other outcome of open() is.
        QTimer::singleShot(0, this, [this, why] { lose(why); });
        return;
    }
    m_connecting = true;
    // libpq asks to begin as if the last poll had asked for the socket to be writable.
    watch(true);
}

void PgConnection::close()
{
    drop(QStringLiteral("the connection was closed"));
}

QString PgConnection::userOf(const QString& connectionString)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connectionString.toUtf8().constData(), &error);
    PQfreemem(error);
    QString user;
    for (PQconninfoOption* o = options; o && o->keyword; ++o) {
        if (qstrcmp(o->keyword, "user") == 0 && o->val)
            user = QString::fromUtf8(o->val);
    }
    PQconninfoFree(options);
    if (user.isEmpty()) {
        PQconninfoOption* defaults = PQconndefaults();
        for (PQconninfoOption* o = defaults; o && o->keyword; ++o) {
            if (qstrcmp(o->keyword, "user") == 0 && o->val)
                user = QString::fromUtf8(o->val);
        }
        PQconninfoFree(defaults);
    }
    return user;
}

QString PgConnection::user() const
{
    return m_conn ? QString::fromUtf8(PQuser(m_conn)) : QString();
}

bool PgConnection::encrypted() const
{
    return m_ready && PQsslInUse(m_conn) == 1;
}

void PgConnection::watch(bool forWrite)
{
    const qintptr socket = PQsocket(m_conn);
    if (socket < 0) {
        lose(trimmedMessage(PQerrorMessage(m_conn)));
        return;
    }
    if (!m_read || m_read->socket() != socket) {
        m_read = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
        m_write = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
        connect(m_read.get(), &QSocketNotifier::activated, this, &PgConnection::onReadable);
        connect(m_write.get(), &QSocketNotifier::activated, this, &PgConnection::onWritable);
    }
    // While connecting libpq wants one direction at a time; once open, the
    // socket is always read (answers, notifications, a server gone) and written only when output waits.
    m_read->setEnabled(m_ready || !forWrite);
    m_write->setEnabled(forWrite);
}

void PgConnection::pollConnect()
{
    switch (PQconnectPoll(m_conn)) {
    case PGRES_POLLING_READING:
        watch(false);
        return;
    case PGRES_POLLING_WRITING:
        watch(true);
        return;
    case PGRES_POLLING_OK:
        m_connecting = false;
        m_ready = true;
        PQsetnonblocking(m_conn, 1);
        // The server's notices ("already exists, skipping") are not the operator's business.
        PQsetNoticeProcessor(
            m_conn, [](void*, const char*) {}, nullptr);
        watch(false);
        Q_EMIT connected();
        startNext();
        return;
    default:
        lose(trimmedMessage(PQerrorMessage(m_conn)));
        return;
    }
}

void PgConnection::onReadable()
{
    if (m_connecting) {
        pollConnect();
        return;
    }
    if (!m_conn)
        return;
    if (!PQconsumeInput(m_conn)) {
        lose(trimmedMessage(PQerrorMessage(m_conn)));
        return;
    }
    takeNotifications();
    if (m_busy)
        collectResults();
    if (m_conn && PQstatus(m_conn) == CONNECTION_BAD)
        lose(trimmedMessage(PQerrorMessage(m_conn)));
}

void PgConnection::onWritable()
{
    if (m_connecting)
        pollConnect();
    else
        flushOut();
}

void PgConnection::takeNotifications()
{
    while (PGnotify* note = PQnotifies(m_conn)) {
        const QString channel = QString::fromUtf8(note->relname);
        const QString payload = QString::fromUtf8(note->extra);
        PQfreemem(note);
        Q_EMIT notified(channel, payload);
    }
}

void PgConnection::prepared(const QByteArray& name, const QByteArray& sql, const QStringList& params, Done done)
{
    enqueue({Job::Kind::Prepared, name, sql, params, {}, std::move(done)});
}

void PgConnection::plain(const QByteArray& sql, Done done)
{
    enqueue({Job::Kind::Plain, {}, sql, {}, {}, std::move(done)});
}

void PgConnection::copyIn(const QByteArray& sql, const QByteArray& data, Done done)
{
    enqueue({Job::Kind::Copy, {}, sql, {}, data, std::move(done)});
}

void PgConnection::enqueue(Job job)
{
    if (!m_conn) {
        // Nothing will ever answer it: said from the event loop, as an answer would be.
        QTimer::singleShot(0, this, [done = std::move(job.done)] {
            PgResult result;
            result.error = QStringLiteral("not connected to the server");
            result.connectionLost = true;
            done(result);
        });
        return;
    }
    m_queue.push_back(std::move(job));
    startNext();
}

void PgConnection::startNext()
{
    while (m_ready && !m_busy && !m_queue.empty()) {
        m_pending = {};
        if (sendJob(m_queue.front())) {
            m_busy = true;
            flushOut();
            return;
        }
        PgResult result;
        result.error = trimmedMessage(PQerrorMessage(m_conn));
        finishJob(result);
    }
}

bool PgConnection::sendJob(Job& job)
{
    switch (job.kind) {
    case Job::Kind::Plain:
    case Job::Kind::Copy:
        return PQsendQuery(m_conn, job.sql.constData());
    case Job::Kind::Prepared:
        break;
    }
    if (!m_preparedNames.contains(job.name)) {
        m_preparing = true;
        return PQsendPrepare(m_conn, job.name.constData(), job.sql.constData(), int(job.params.size()), nullptr);
    }
    std::vector<QByteArray> utf8;
    std::vector<const char*> values;
    utf8.reserve(job.params.size());
    for (const QString& param : job.params) {
        utf8.push_back(param.toUtf8());
        values.push_back(param.isNull() ? nullptr : utf8.back().constData());
    }
    return PQsendQueryPrepared(m_conn, job.name.constData(), int(values.size()), values.data(), nullptr, nullptr, 0);
}

void PgConnection::collectResults()
{
    while (m_conn && m_busy && !PQisBusy(m_conn)) {
        PGresult* res = PQgetResult(m_conn);
        if (!res) {
            if (m_preparing) {
                m_preparing = false;
                if (m_pending.ok) {
                    Job& job = m_queue.front();
                    m_preparedNames.append(job.name);
                    m_pending = {};
                    if (sendJob(job)) {
                        flushOut();
                        continue;
                    }
                    m_pending.error = trimmedMessage(PQerrorMessage(m_conn));
                }
            }
            finishJob(m_pending);
            return;
        }
        const ExecStatusType status = PQresultStatus(res);
        if (status == PGRES_COPY_IN) {
            PQclear(res);
            m_copyOffset = 0;
            flushOut();
            return; // the COPY's own result comes once its data is sent
        }
        const bool firstError = m_pending.error.isEmpty();
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            if (firstError) {
                m_pending.ok = true;
                m_pending.affected = QByteArray(PQcmdTuples(res)).toInt();
                m_pending.rows.clear();
                for (int r = 0; r < PQntuples(res); ++r) {
                    QStringList row;
                    for (int c = 0; c < PQnfields(res); ++c)
                        row.append(PQgetisnull(res, r, c) ? QString() : QString::fromUtf8(PQgetvalue(res, r, c)));
                    m_pending.rows.append(row);
                }
            }
        } else if (firstError) {
            m_pending.ok = false;
            m_pending.rows.clear();
            m_pending.error = trimmedMessage(PQresultErrorMessage(res));
            m_pending.sqlState = QString::fromUtf8(PQresultErrorField(res, PG_DIAG_SQLSTATE));
        }
        PQclear(res);
    }
}

void PgConnection::putCopy()
{
    const QByteArray& data = m_queue.front().copyData;
    while (m_copyOffset < data.size()) {
        const int chunk = int(qMin<qsizetype>(64 * 1024, data.size() - m_copyOffset));
        const int put = PQputCopyData(m_conn, data.constData() + m_copyOffset, chunk);
        if (put == 0)
            return; // the output buffer is full: the socket says when to go on
        if (put < 0) {
            lose(trimmedMessage(PQerrorMessage(m_conn)));
            return;
        }
        m_copyOffset += chunk;
    }
    const int ended = PQputCopyEnd(m_conn, nullptr);
    if (ended < 0)
        lose(trimmedMessage(PQerrorMessage(m_conn)));
    else if (ended > 0)
        m_copyOffset = -1;
}

void PgConnection::flushOut()
{
    if (!m_conn)
        return;
    if (m_copyOffset >= 0)
        putCopy();
    if (!m_conn)
        return;
    const int flushed = PQflush(m_conn);
    if (flushed < 0) {
        lose(trimmedMessage(PQerrorMessage(m_conn)));
        return;
    }
    m_write->setEnabled(flushed > 0 || m_copyOffset >= 0);
}

void PgConnection::finishJob(PgResult result)
{
    m_busy = false;
    m_preparing = false;
    m_copyOffset = -1;
    m_pending = {};
    Job job = std::move(m_queue.front());
    m_queue.pop_front();
    job.done(result);
    startNext();
}

void PgConnection::lose(const QString& why)
{
    drop(why);
    Q_EMIT failed(why);
}

// Ends the connection; every statement still queued is answered with `why`.
void PgConnection::drop(const QString& why)
{
    m_read.reset();
    m_write.reset();
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    m_connecting = false;
    m_ready = false;
    m_busy = false;
    m_preparing = false;
    m_copyOffset = -1;
    m_preparedNames.clear();
    std::deque<Job> dropped;
    dropped.swap(m_queue);
    for (Job& job : dropped) {
        PgResult result;
        result.error = why;
        result.connectionLost = true;
        job.done(result);
    }
}

bool PgConnection::waitIdle(int timeoutMs)
{
    const auto idle = [this] { return !m_connecting && m_queue.empty(); };
    QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer look;
    connect(&look, &QTimer::timeout, &loop, [&] {
        if (idle() || deadline.hasExpired())
            loop.quit();
    });
    look.start(5);
    if (!idle())
        loop.exec();
    return idle();
}
