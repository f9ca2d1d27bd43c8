#include "app/stationlink.h"

#include "base/error.h"
#include "db/stationfeed.h"
#include "writing/batchsession.h"

#include <QLabel>
#include <QStatusBar>

StationLink::StationLink(BatchSession& session, QStatusBar* bar, OutboxPath outboxPath)
    : QObject(bar), m_session(session), m_label(new QLabel(bar)), m_outboxPath(std::move(outboxPath))
{
    m_label->setObjectName(QStringLiteral("SharedBatchStatus"));
    m_label->hide();
    bar->addPermanentWidget(m_label);
    connect(&m_session, &BatchSession::sharedChanged, this, &StationLink::follow);
    follow();
}

StationLink::~StationLink()
{
    m_session.setHandedCards(nullptr);
}

QString StationLink::statusText() const
{
    return m_label->text();
}

void StationLink::follow()
{
    m_session.setHandedCards(nullptr);
    m_cards.reset();
    const auto& shared = m_session.shared();
    if (!shared) {
        m_label->hide();
        return;
    }
    try {
        m_cards = std::make_unique<StationCards>(shared->connection, shared->batch, m_outboxPath(shared->batch));
    } catch (const Failure& failure) {
        // No card goes out until the outbox is mended: its outcomes are not lost.
        show(failure.text());
        return;
    }
    m_session.setHandedCards(m_cards.get());
    connect(&m_cards->feed(), &StationFeed::changed, this, [this] { show(m_cards->feed().status()); });
    show(m_cards->feed().status());
}

void StationLink::show(const QString& text)
{
    const auto& shared = m_session.shared();
    m_label->setText(QStringLiteral("Партия «%1»: %2").arg(shared ? shared->name : QString(), text));
    m_label->show();
}
