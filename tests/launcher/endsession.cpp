// Test helper: asks the top-level window of a class whether the session may
// end, as Windows does at shutdown or log-off, then tells it the session
// ends after all (WM_ENDSESSION), and reports what the window answered.
//   endsession <window class>
// Exit code: 0 the window refused, 1 it agreed, 2 no such window,
// 3 it did not answer within 5 s.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    HWND w = ::FindWindowW(argv[1], nullptr);
    if (!w) return 2;
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutW(w, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer))
        return 3;
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(w, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &ignored);
    return answer ? 1 : 0;
}
