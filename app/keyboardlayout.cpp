#include "app/keyboardlayout.h"

#include <QGuiApplication>

#ifdef STRIPEWELL_HAVE_XKB
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#undef Bool
#undef None
#undef Status
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace Platform {

#ifdef STRIPEWELL_HAVE_XKB
namespace {

Display* x11Display()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

// The layout group whose layout is US English, read from the keymap's symbols
// ("pc+ru+us:2+inet(evdev)" gives group 1), or -1.
int usGroup(Display* display)
{
    XkbDescPtr desc = XkbAllocKeyboard();
    if (!desc)
        return -1;
    int group = -1;
    if (XkbGetNames(display, XkbSymbolsNameMask | XkbGroupNamesMask, desc) == Success && desc->names) {
        char* symbols = desc->names->symbols ? XGetAtomName(display, desc->names->symbols) : nullptr;
        if (symbols) {
            const QStringList parts = QString::fromLatin1(symbols).split(QLatin1Char('+'));
            XFree(symbols);
            for (const QString& part : parts) {
                const QString name = part.section(QLatin1Char('('), 0, 0).section(QLatin1Char(':'), 0, 0);
                if (name != QLatin1String("us")) // pc, inet, group options and other layouts
                    continue;
                const QString index = part.section(QLatin1Char(':'), 1, 1);
                group = index.isEmpty() ? 0 : index.toInt() - 1;
                break;
            }
        }
    }
    XkbFreeKeyboard(desc, 0, True);
    return group;
}

} // namespace
#endif

void selectUsKeyboardLayout()
{
#if defined(Q_OS_WIN)
    LoadKeyboardLayoutA("00000409", 1);
#elif defined(STRIPEWELL_HAVE_XKB)
    Display* display = x11Display();
    if (!display)
        return;
    const int group = usGroup(display);
    if (group < 0)
        return;
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success && state.locked_group == group)
        return;
    XkbLockGroup(display, XkbUseCoreKbd, unsigned(group));
    XFlush(display);
#endif
}

#ifdef STRIPEWELL_HAVE_XKB
namespace {
int s_groupBeforeHold = -1; // the group locked before the composer took the keyboard, or -1
}
#endif

void holdUsKeyboardLayout(bool windowActive)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(windowActive);
    selectUsKeyboardLayout();
#elif defined(STRIPEWELL_HAVE_XKB)
    if (!windowActive) {
        releaseKeyboardLayout();
        return;
    }
    Display* display = x11Display();
    if (!display || usGroup(display) < 0)
        return;
    XkbStateRec state{};
    if (s_groupBeforeHold < 0 && XkbGetState(display, XkbUseCoreKbd, &state) == Success)
        s_groupBeforeHold = state.locked_group;
    selectUsKeyboardLayout();
#else
    Q_UNUSED(windowActive);
#endif
}

void releaseKeyboardLayout()
{
#ifdef STRIPEWELL_HAVE_XKB
    const int group = std::exchange(s_groupBeforeHold, -1);
    Display* display = x11Display();
    if (group < 0 || !display)
        return;
    XkbLockGroup(display, XkbUseCoreKbd, unsigned(group));
    XFlush(display);
#endif
}

int currentKeyboardGroup()
{
#ifdef STRIPEWELL_HAVE_XKB
    Display* display = x11Display();
    XkbStateRec state{};
    if (display && XkbGetState(display, XkbUseCoreKbd, &state) == Success)
        return state.locked_group;
#endif
    return -1;
}
} // namespace Platform
