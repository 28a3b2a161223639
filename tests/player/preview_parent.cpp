// A stand-in for the system's screen-saver settings page: one window whose
// handle it prints (decimal, then a line break) for a saver's /p argument.
// Half-way through its life it prints a line "child CLASS X Y WIDTH HEIGHT"
// for each child window (its place in the client area). It closes after the
// number of milliseconds given as its argument (default 8000) or when it
// receives WM_CLOSE; closing takes its child windows along.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT_PTR kReportTimer = 2;

BOOL CALLBACK ReportChild(HWND child, LPARAM parent) {
    char name[64] = "";
    ::GetClassNameA(child, name, sizeof name);
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, reinterpret_cast<HWND>(parent), reinterpret_cast<POINT*>(&r), 2);
    std::printf("child %s %ld %ld %ld %ld\n", name, r.left, r.top, r.right - r.left,
                r.bottom - r.top);
    std::fflush(stdout);
    return TRUE;
}

LRESULT CALLBACK ParentProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_TIMER:
            if (w == kCloseTimer) ::DestroyWindow(window);
            if (w == kReportTimer) {
                ::KillTimer(window, kReportTimer);
                ::EnumChildWindows(window, ReportChild, reinterpret_cast<LPARAM>(window));
            }
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcA(window, message, w, l);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long lifetime = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 8000;
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = ParentProcedure;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "VemoPreviewParent";
    if (!::RegisterClassA(&wc)) return 1;
    // A popup without a frame: its client area is its whole window.
    HWND window = ::CreateWindowExA(0, wc.lpszClassName, "Vemo preview parent",
                                    WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 100, 80, 152, 112,
                                    nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    std::printf("%lld\n", static_cast<long long>(reinterpret_cast<intptr_t>(window)));
    std::fflush(stdout);
    const UINT life = static_cast<UINT>(lifetime > 0 ? lifetime : 8000);
    ::SetTimer(window, kCloseTimer, life, nullptr);
    ::SetTimer(window, kReportTimer, life / 2, nullptr);
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return 0;
}
