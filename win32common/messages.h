// Message processing shared by the programs' windows. Modeless windows that
// want dialog keyboard handling (Tab, Enter for the default button, Esc for
// the cancel button) register themselves so every loop, including the
// "process pending messages" waits inside calls, routes keys through them.
#pragma once
#include <windows.h>

namespace vellum {

void RegisterDialogWindow(HWND window);
void UnregisterDialogWindow(HWND window);

// Processes every message already queued, then returns. Returns false if
// WM_QUIT was seen (it is posted again so the outer loop sees it too).
bool PumpPendingMessages();

// True when a message waits for this thread (posted, sent, input, paint,
// timer). A loop that pumps between steps asks this first: under Wine an
// empty PeekMessage also flushes the windows and polls the display.
bool MessagesPending();

// Runs the thread's message loop until WM_QUIT; returns its exit code.
int RunMessageLoop();

// The owner for a new modal box over `window` (null: no owner). A box that
// is already open over the window becomes the owner, so the boxes stack: the
// new one, when it closes, enables the box below it and not the window,
// which would otherwise take input again under a still-open question.
HWND ModalOwner(HWND window);

}  // namespace vellum
