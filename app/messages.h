#pragma once

// Message boxes and the guard that turns an escaping error into the common
// report. Tests replace the boxes with a recorder so that nothing blocks.

#include <QString>

#include <functional>

class QWidget;

namespace Platform {

enum class MessageIcon { Error, Warning };

struct MessageRecord
{
    QString owner; // object name of the owning window
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::Error;
};

// A modal box with one OK button, owned by `owner`.
void showMessage(QWidget* owner, const QString& text, const QString& title, MessageIcon icon);

// The three kinds of message the program shows.
inline void errorBox(QWidget* owner, const QString& text)
{
    showMessage(owner, text, QStringLiteral("Error!"), MessageIcon::Error);
}
inline void warningBox(QWidget* owner, const QString& text)
{
    showMessage(owner, text, QStringLiteral("Внимание!"), MessageIcon::Warning);
}
inline void failureBox(QWidget* owner, const QString& text)
{
    showMessage(owner, text, QStringLiteral("Ошибка"), MessageIcon::Error);
}

// A question with "Да" and "Нет", owned by `owner`, with the warning icon. True for "Да".
bool askYesNo(QWidget* owner, const QString& text, const QString& title);
// Test hook: the answer a recorded question gets (the next one only; then "Да" again).
void setNextAnswer(bool yes);

// The common error report: the error's text, the application's title as caption, the error icon.
void reportError(QWidget* owner, const QString& text);

// Runs a handler or timer tick; an error that escapes it goes to the common
// error report. While a report is open, further guarded calls made from the
// box's own event loop are dropped, so ticks of a loop cannot stack boxes.
void guarded(QWidget* owner, const std::function<void()>& handler);

// A slot that runs a form's handler inside guarded(), for connect().
template <typename Form> auto guardedSlot(Form* form, void (Form::*handler)())
{
    return [form, handler] { guarded(form, [form, handler] { (form->*handler)(); }); };
}

// Test hook: when set, boxes are recorded here instead of shown.
void setMessageRecorder(std::function<void(const MessageRecord&)> recorder);

} // namespace Platform
