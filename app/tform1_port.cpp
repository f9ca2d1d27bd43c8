// The main window's port status line, and what happens when the port goes away.
#include "app/messages.h"
#include "app/portstatus.h"
#include "app/tform1.h"
#include "app/tform4.h"

#include <QStatusBar>

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
