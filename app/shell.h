#pragma once

// Hands a web address to the system's browser.

#include <QString>

namespace Platform {

// Opens a web address in the system's browser; failures are ignored.
void openUrl(const QString& url);

} // namespace Platform
