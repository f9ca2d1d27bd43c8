#include "app/shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace Platform {

void openUrl(const QString& url)
{
    QDesktopServices::openUrl(QUrl(url));
}

} // namespace Platform
