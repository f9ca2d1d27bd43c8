#include "app/mainbuttons.h"

#include <QAbstractButton>
#include <QEvent>
#include <QStyle>
#include <QWidget>

namespace {

struct Button
{
    const char* name;
    QStyle::StandardPixmap picture;
    const char* hint;
};

// The multi-line hints break with a line feed, which is how a Qt tooltip starts a new line.
constexpr Button Buttons[] = {
    {"SpeedButton3", QStyle::SP_MediaPlay, "Читать карточку"},
    {"SpeedButton4", QStyle::SP_MediaStop, "Остановить чтение карточек"},
    {"SpeedButton5", QStyle::SP_DialogSaveButton, "Записать карточку"},
    {"SpeedButton9", QStyle::SP_MediaStop, "Остановить запись карточек"},
    {"SpeedButton11", QStyle::SP_FileDialogDetailedView, "Строка для записи\nна 1 дорожку"},
    {"SpeedButton12", QStyle::SP_FileDialogDetailedView, "Строка для записи\nна 2 дорожку"},
    {"SpeedButton13", QStyle::SP_FileDialogDetailedView, "Строка для записи\nна 3 дорожку"},
    {"SpeedButton6", QStyle::SP_ComputerIcon, "Сменить COM порт"},
    {"SpeedButton18", QStyle::SP_MessageBoxInformation, "О программе"},
    {"SpeedButton8", QStyle::SP_DialogCloseButton, "Выход"},
};

// A button's hint becomes its tooltip the first time the pointer enters it.
class HintOnFirstRest : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Enter) {
            if (auto* button = qobject_cast<QAbstractButton*>(watched); button && button->toolTip().isEmpty())
                button->setToolTip(button->accessibleDescription());
        }
        return false;
    }
};

} // namespace

void MainButtons::dress(QWidget* window)
{
    auto* hints = new HintOnFirstRest(window);
    for (const Button& b : Buttons) {
        auto* button = window->findChild<QAbstractButton*>(QLatin1String(b.name));
        button->setIcon(window->style()->standardIcon(b.picture));
        button->installEventFilter(hints);
        button->setAccessibleDescription(QString::fromUtf8(b.hint));
    }
    window->findChild<QAbstractButton*>(QStringLiteral("SpeedButton6"))
        ->setAccessibleName(QStringLiteral("Сменить COM порт"));
}
