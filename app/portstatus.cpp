#include "app/portstatus.h"

#include "app/messages.h"
#include "link/comport.h"

#include <QLabel>
#include <QStatusBar>

PortStatus::PortStatus(ComPort& port, QStatusBar* bar) : QObject(bar), m_port(port), m_label(new QLabel(bar))
{
    m_label->setObjectName(QStringLiteral("PortStatusLabel"));
    m_label->setAccessibleName(QStringLiteral("Состояние порта"));
    bar->addWidget(m_label, 1);
    bar->setSizeGripEnabled(false);
    m_watch.setObjectName(QStringLiteral("PortWatch"));
    m_watch.setInterval(WatchIntervalMs);
    connect(&m_watch, &QTimer::timeout, this, [this, bar] { Platform::guarded(bar->window(), [this] { check(); }); });
    show(QStringLiteral("Порт не открыт"));
}

void PortStatus::show(const QString& text)
{
    m_label->setText(text);
    m_label->setAccessibleDescription(text);
}

QString PortStatus::text() const
{
    return m_label->text();
}

void PortStatus::portOpened(const QString& name)
{
    m_name = name;
    show(QStringLiteral("Порт открыт: %1").arg(name));
    m_watch.start();
}

void PortStatus::portNotOpened(const QString& name)
{
    m_watch.stop();
    if (name.isEmpty()) {
        show(QStringLiteral("Порт не открыт"));
        return;
    }
    // The device's reason, when it gave one: "COM3 занят другой программой".
    const QString reason = m_port.openFailure();
    show(reason.isEmpty() ? QStringLiteral("Порт не открыт: не удалось открыть %1").arg(name)
                          : QStringLiteral("Порт не открыт: не удалось открыть %1 (%2)").arg(name, reason));
}

void PortStatus::check()
{
    if (!m_watch.isActive() || !m_port.lost())
        return;
    m_watch.stop();
    show(QStringLiteral("Порт не открыт: %1 отключён").arg(m_name));
    Q_EMIT portLost(m_name);
}
