#include "app/instancelock.h"

#include "app/messages.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

#ifdef STRIPEWELL_HAVE_XKB
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

InstanceLock::InstanceLock(const QString& dir) : m_path(QDir(dir).absoluteFilePath(fileName())), m_file(m_path)
{
    // Never stale by age: only a holder that no longer runs gives the lock up.
    m_file.setStaleLockTime(0);
}

InstanceLock::Result InstanceLock::take()
{
    if (m_file.tryLock(0))
        return Result::Taken;
    if (m_file.error() == QLockFile::LockFailedError) {
        QString host, application;
        if (!m_file.getLockInfo(&m_holder, &host, &application))
            m_holder = 0;
        return Result::HeldByOther;
    }
    return Result::NotLockable;
}

bool claimWorkingDirectory(InstanceLock& lock)
{
    if (lock.take() != InstanceLock::Result::HeldByOther)
        return true;
    const QString folder = QDir::toNativeSeparators(QFileInfo(lock.path()).absolutePath());
    const QString text = QStringLiteral("Программа уже запущена в папке «%1». В одной папке работает одна "
                                        "программа: перейдите в её окно. Эта копия закрывается, ничего не "
                                        "изменив.")
                             .arg(folder);
    std::fprintf(stderr, "stripewell: %s\n", text.toLocal8Bit().constData());
    bringWindowToFront(lock.holder());
    Platform::warningBox(nullptr, text);
    // The running window again: the box took the focus from it.
    bringWindowToFront(lock.holder());
    return false;
}

#ifdef STRIPEWELL_HAVE_XKB
namespace {

Display* x11Display()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

QList<Window> windowList(Display* display, Window root)
{
    QList<Window> windows;
    const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, root, clientList, 0, 4096, False, XA_WINDOW, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        if (format == 32)
            for (unsigned long i = 0; i < count; ++i)
                windows.append(Window(reinterpret_cast<unsigned long*>(data)[i]));
        XFree(data);
    }
    return windows;
}

qint64 windowPid(Display* display, Window window)
{
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    qint64 pid = 0;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        if (format == 32 && count == 1)
            pid = qint64(*reinterpret_cast<unsigned long*>(data));
        XFree(data);
    }
    return pid;
}

// A window without WM_TRANSIENT_FOR is a main window, not one of its dialogs.
bool isMainWindow(Display* display, Window window)
{
    Window owner = None;
    return !XGetTransientForHint(display, window, &owner) || owner == None;
}

} // namespace

bool bringWindowToFront(qint64 pid)
{
    Display* display = x11Display();
    if (!display || pid <= 0)
        return false;
    const Window root = DefaultRootWindow(display);
    for (const Window window : windowList(display, root)) {
        if (windowPid(display, window) != pid || !isMainWindow(display, window))
            continue;
        // Source 2: the request comes from the operator directly (a second start), as a pager's would.
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XFlush(display);
        return true;
    }
    return false;
}
#elif defined(Q_OS_WIN)
namespace {

struct Search
{
    DWORD pid = 0;
    HWND found = nullptr;
};

BOOL CALLBACK lookAt(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    // The main window: visible and owned by no other window (the dialogs are).
    if (pid == search->pid && IsWindowVisible(window) && !GetWindow(window, GW_OWNER)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

bool bringWindowToFront(qint64 pid)
{
    if (pid <= 0)
        return false;
    Search search;
    search.pid = DWORD(pid);
    EnumWindows(lookAt, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return false;
    if (IsIconic(search.found))
        ShowWindow(search.found, SW_RESTORE);
    SetForegroundWindow(search.found);
    return true;
}
#else
bool bringWindowToFront(qint64)
{
    return false;
}
#endif
