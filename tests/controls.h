#pragma once

// A window's control by the name the form gives it, as an operator would find it:
// tests reach the forms from outside, never through their generated members.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

// Whether `object` belongs to `form` itself rather than to one of the other
// windows the form owns (its menus are its own).
inline bool ownControl(const QObject* object, const QWidget* form)
{
    for (auto* w = qobject_cast<const QWidget*>(object); w && w != form; w = w->parentWidget()) {
        if (w->isWindow() && !qobject_cast<const QMenu*>(w))
            return false;
    }
    return true;
}

// The control of `form` named `name`, of type T. A missing or doubled name stops
// the test run at once, since every check after it would be about the wrong control.
template <class T> T* control(const QWidget* form, const char* name)
{
    T* found = nullptr;
    for (T* candidate : form->findChildren<T*>(QString::fromLatin1(name))) {
        if (!ownControl(candidate, form))
            continue;
        if (found)
            qFatal("two controls named %s in %s", name, qPrintable(form->objectName()));
        found = candidate;
    }
    if (!found)
        qFatal("no control named %s in %s", name, qPrintable(form->objectName()));
    return found;
}
