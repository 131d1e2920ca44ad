// The "anything waiting?" check the launcher asks before it pumps between
// files: it must see every kind of message the pump would handle.
#include <gtest/gtest.h>
#include <windows.h>

#include "messages.h"

namespace {

void Drain() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(MessagesPending, SeesPostedMessagesUntilTheyAreTaken) {
    Drain();
    EXPECT_FALSE(vellum::MessagesPending());
    ASSERT_TRUE(::PostThreadMessageW(::GetCurrentThreadId(), WM_APP, 0, 0));
    EXPECT_TRUE(vellum::MessagesPending());
    // Asking twice does not consume it: the pump still finds it.
    EXPECT_TRUE(vellum::MessagesPending());
    EXPECT_TRUE(vellum::PumpPendingMessages());
    EXPECT_FALSE(vellum::MessagesPending());
}

TEST(MessagesPending, SeesAPendingPaint) {
    HWND w = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, w);
    ::UpdateWindow(w);
    ::InvalidateRect(w, nullptr, FALSE);  // as a progress bar does when its position changes
    EXPECT_TRUE(vellum::MessagesPending());
    ::UpdateWindow(w);
    ::DestroyWindow(w);
    Drain();
}

}  // namespace
