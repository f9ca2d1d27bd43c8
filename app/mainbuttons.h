#pragma once

class QWidget;

// The main window's speed buttons: their pictures, and the hint each shows when
// the pointer first rests on it.
namespace MainButtons {

void dress(QWidget* window);

} // namespace MainButtons
