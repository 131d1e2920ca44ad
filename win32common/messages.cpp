#include "messages.h"

#include <algorithm>
#include <vector>

namespace vellum {
namespace {
std::vector<HWND>& DialogWindows() {
    static std::vector<HWND> windows;
    return windows;
}

bool DispatchOne(MSG& msg) {
    for (HWND w : DialogWindows()) {
        if (::IsWindow(w) && (msg.hwnd == w || ::IsChild(w, msg.hwnd)) && ::IsDialogMessageW(w, &msg))
            return true;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    return true;
}
}  // namespace

void RegisterDialogWindow(HWND window) {
    auto& v = DialogWindows();
    if (std::find(v.begin(), v.end(), window) == v.end()) v.push_back(window);
}

void UnregisterDialogWindow(HWND window) {
    auto& v = DialogWindows();
    v.erase(std::remove(v.begin(), v.end(), window), v.end());
}

bool PumpPendingMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        DispatchOne(msg);
    }
    return true;
}

bool MessagesPending() { return HIWORD(::GetQueueStatus(QS_ALLINPUT)) != 0; }

HWND ModalOwner(HWND window) {
    if (!window || !::IsWindow(window)) return nullptr;
    HWND top = ::GetLastActivePopup(window);
    return top && ::IsWindowVisible(top) ? top : window;
}

int RunMessageLoop() {
    MSG msg;
    BOOL r;
    while ((r = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (r == -1) return -1;
        DispatchOne(msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace vellum
