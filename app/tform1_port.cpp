// The main window's port status line, and what happens when the port goes away.
#include "app/messages.h"
#include "app/portstatus.h"
#include "app/tform1.h"
#include "app/tform4.h"

#include <QStatusBar>

void TForm1::setUpPortStatus()
{
    m_portStatus = new PortStatus(m_port, statusBar());
    connect(m_portStatus, &PortStatus::portLost, this,
            [this](const QString& name) { Platform::guarded(this, [this, name] { PortLost(name); }); });
}

void TForm1::watchPortDialog()
{
    connect(m_form4, &TForm4::portOpened, m_portStatus, &PortStatus::portOpened);
    connect(m_form4, &TForm4::portNotOpened, m_portStatus, &PortStatus::portNotOpened);
}

QString TForm1::portStatusText() const
{
    return m_portStatus->text();
}

void TForm1::PortLost(const QString& name)
{
    // Stopped as the operator's "Отмена" would stop them, so a run ends by its usual rules.
    if (Timer1.isActive())
        SpeedButton4Click();
    if (Timer2.isActive() || m_session.writeLoop().running())
        SpeedButton9Click();
    Platform::warningBox(this, QStringLiteral("Порт %1 пропал: устройство отключено.\n"
                                              "Чтение и запись карточек остановлены. Подключите устройство "
                                              "и откройте порт снова кнопкой «Сменить COM порт».")
                                   .arg(name));
}
