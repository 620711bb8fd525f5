// Drives a dialog of this process that runs its modal loop on another thread, through the
// messages its controls and the user would send.
#pragma once

#include <windows.h>

#include <string>

namespace dialog_driver {

// The visible top-level window of this process with that title, waited for up to
// timeoutMs; null if none appears.
HWND WaitForWindow(const char* title, DWORD timeoutMs = 10000);

// Moves the keyboard focus the way Tab does, on the dialog's own thread, so that the
// control losing it sends its real notifications.
void Focus(HWND dialog, int id);
// The control that has the focus in the dialog's thread.
HWND FocusedWindow(HWND dialog);

void SetText(HWND dialog, int id, const std::string& text);
std::string Text(HWND dialog, int id);

// A visible top-level window with that title owned by owner, waited for; null if none.
HWND WaitForOwnedWindow(const char* title, HWND owner, DWORD timeoutMs = 10000);

// A click with the mouse: the button takes the focus, then reports BN_CLICKED.
void Click(HWND dialog, int id);
// The same, posted: for buttons that open a modal window of their own, so the caller is
// free to drive it.
void PostClick(HWND dialog, int id);
// Mouse messages at a client position of the dialog, as the window system sends them.
void MouseMove(HWND dialog, POINT client);
void LeftClick(HWND dialog, POINT client);
// Moves the real pointer to a client position of the dialog: the window system then sends
// its own moves and cursor requests. A move to where the pointer already is sends nothing.
void MovePointer(HWND dialog, POINT client);
// The cursor the window system shows now.
HCURSOR ShownCursor();

// Paints what the dialog has left to paint, now.
void Repaint(HWND dialog);
// Invalidates the whole dialog without erasing, as a window uncovered would, and repaints.
void ForceRepaint(HWND dialog);
// The colour on screen at a client position of the dialog.
COLORREF PixelAt(HWND dialog, POINT client);
// A control's window rectangle in the dialog's client coordinates.
RECT ControlRect(HWND dialog, int id);
bool Checked(HWND dialog, int id);
bool Enabled(HWND dialog, int id);

int SliderPos(HWND dialog, int id);
int SliderMin(HWND dialog, int id);
int SliderMax(HWND dialog, int id);
// A key press on a focused trackbar (arrows, page, home, end): it moves itself and
// reports WM_HSCROLL, but sends no NM_RELEASEDCAPTURE.
void SliderKey(HWND dialog, int id, UINT virtualKey);
// A drag: the thumb moves to position with WM_HSCROLL reports, then the mouse lets go.
void SliderDrag(HWND dialog, int id, int position);

}  // namespace dialog_driver
