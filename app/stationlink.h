#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class BatchSession;
class QLabel;
class QStatusBar;
class StationCards;

// The window's link to a shared batch: while the open job has joined one, a
// station feed hands its cards to the write loop, and the status line says how
// the database is doing.
class StationLink : public QObject
{
    Q_OBJECT
public:
    using OutboxPath = std::function<QString(qint64 batch)>;
    StationLink(BatchSession& session, QStatusBar* bar, OutboxPath outboxPath);
    ~StationLink() override;

    QString statusText() const;

private:
    void follow();
    void show(const QString& text);

    BatchSession& m_session;
    QLabel* m_label = nullptr;
    OutboxPath m_outboxPath;
    std::unique_ptr<StationCards> m_cards;
};
