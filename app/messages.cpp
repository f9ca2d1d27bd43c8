#include "app/messages.h"

#include <QMessageBox>
#include <QWidget>

#include <exception>
#include <utility>

namespace Platform {

namespace {

std::function<void(const MessageRecord&)>& recorder()
{
    static std::function<void(const MessageRecord&)> r;
    return r;
}

// Boxes open right now. While one is open, guarded handlers that its event loop
// would run are dropped: a timer tick cannot stack a second box behind the first.
int s_openBoxes = 0;

} // namespace

void setMessageRecorder(std::function<void(const MessageRecord&)> r)
{
    recorder() = std::move(r);
}

void showMessage(QWidget* owner, const QString& text, const QString& title, MessageIcon icon)
{
    if (recorder()) {
        // A recorded box counts as open while the recorder runs, as a real one does while it is shown.
        ++s_openBoxes;
        recorder()({owner ? owner->objectName() : QString(), text, title, icon});
        --s_openBoxes;
        return;
    }
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Warning, title, text,
                    QMessageBox::Ok, owner ? owner->window() : nullptr);
    ++s_openBoxes;
    box.exec();
    --s_openBoxes;
}

namespace {
bool s_nextAnswer = true;
} // namespace

void setNextAnswer(bool yes)
{
    s_nextAnswer = yes;
}

bool askYesNo(QWidget* owner, const QString& text, const QString& title)
{
    if (recorder()) {
        ++s_openBoxes;
        recorder()({owner ? owner->objectName() : QString(), text, title, MessageIcon::Warning});
        --s_openBoxes;
        return std::exchange(s_nextAnswer, true);
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No,
                    owner ? owner->window() : nullptr);
    box.setDefaultButton(QMessageBox::Yes);
    ++s_openBoxes;
    const int answer = box.exec();
    --s_openBoxes;
    return answer == QMessageBox::Yes;
}

void reportError(QWidget* owner, const QString& text)
{
    showMessage(owner, text, QStringLiteral("Stripewell"), MessageIcon::Error);
}

void guarded(QWidget* owner, const std::function<void()>& handler)
{
    if (s_openBoxes > 0)
        return;
    QString error;
    try {
        handler();
        return;
    } catch (const std::exception& e) {
        error = QString::fromStdString(e.what());
    } catch (...) {
        error = QStringLiteral("Unknown error.");
    }
    reportError(owner, error);
}
} // namespace Platform
