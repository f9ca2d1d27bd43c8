#pragma once

// The keyboard layout lock of the composer, where the system has one.

namespace Platform {

// Locks the keyboard to its US English layout (X11: the layout group whose
// layout is "us"; Windows: LoadKeyboardLayout "00000409"). Does nothing where
// neither applies or no such layout is configured.
void selectUsKeyboardLayout();
// The composer's lock, run on each tick of its timer and when it gains or loses
// activation. On X11 the layout group is one setting of the whole session, so
// the US group is locked only while `windowActive`; the group that was locked
// before is remembered and given back once the window is no longer active.
// On Windows the layout belongs to the program's own thread: it is loaded on
// every call, active or not.
void holdUsKeyboardLayout(bool windowActive);
// Gives back the group that was locked before holdUsKeyboardLayout took the
// keyboard, if it did (the composer hides). Nothing on Windows.
void releaseKeyboardLayout();
// The current X11 layout group, or -1 where there is none (for tests).
int currentKeyboardGroup();

} // namespace Platform
