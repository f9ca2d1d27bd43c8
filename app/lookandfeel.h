#pragma once

#include <QIcon>

class QApplication;

// The look the windows were laid out for: a small sans-serif font that has the
// metrics of the Windows dialog font, and the program's pictures.
namespace LookAndFeel {

void apply(QApplication& app);
QIcon appIcon();

} // namespace LookAndFeel
