#pragma once

#include <QIcon>

class QApplication;

// The look the windows were laid out for: a small sans-serif font that has the
// metrics of the Windows dialog font, the program's pictures, and Qt's own
// dialogs and buttons in Russian (qtbase_ru from Debian's qt6-translations-l10n;
// without it they stay in English).
namespace LookAndFeel {

void apply(QApplication& app);
QIcon appIcon();

} // namespace LookAndFeel
