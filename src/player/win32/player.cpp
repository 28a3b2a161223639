#include "player.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "back_ends.h"
#include "options.h"
#include "playback.h"
#include "report.h"
#include "saver.h"
#include "saver_win32.h"
#include "session.h"
#include "vemo/display_buffer.h"
#include "vemo/movie.h"
#include "vemo/platform.h"
#include "vemo/timer.h"

namespace vemo::player {

namespace {

constexpr char kWindowClass[] = "VemoWin";
constexpr int kIconId = 101;
constexpr int kCursorId = 101;

// Message boxes, or with VEMO_MESSAGE_BOXES=0 their title and text on
// standard output (for tests; a yes/no question is then answered No).
class Boxes {
  public:
    Boxes() {
        const char* env = std::getenv("VEMO_MESSAGE_BOXES");
        print_only_ = env && std::strcmp(env, "0") == 0;
    }
    int Show(HWND owner, const char* title, const std::string& text, UINT kind) const {
        if (print_only_) {
            std::printf("%s: %s\n", title, text.c_str());
            std::fflush(stdout);
            return kind & MB_YESNO ? IDNO : IDOK;
        }
        return ::MessageBoxA(owner, text.c_str(), title, kind);
    }

  private:
    bool print_only_ = false;
};

void OpenInBrowser(const std::string& address) {
    ::ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

class Player : public PlaybackSession {
  public:
    int Run();
    LRESULT Message(HWND window, UINT message, WPARAM w, LPARAM l);

  private:
    // The session's platform part.
    DisplayWindow Window() const override { return window_; }
    void ShowError(const std::string& text) override;
    bool PassVersionCheck() override;
    DisplayArea AreaForMovie() override;
    void DisplayFailed() override;
    void PlaceWindow(uint32_t shown_w, uint32_t shown_h) override;
    void EndAfterFailedOpen(int code) override;
    bool RemoveWindow() override;
    void PlaybackStep() override;
    void ClosingImageOpened() override { statistics_ = false; }
    void ClosingImageShown() override;

    // Start-up.
    bool ParseOptions(int* exit_code);
    bool CreatePlayerWindow();
    int32_t MeasureBand();

    // The loop.
    bool LoopPass();
    void HandleKey(WPARAM key);
    void EndSaverOnInput();
    void Paint();
    void RedrawOnScreen();
    void FillBlack(HDC dc);
    void DrawStatistics(HDC dc);
    void UpdateTitle();
    int ExitPath();
    void Shutdown();

    Boxes boxes_;
    HINSTANCE instance_ = ::GetModuleHandleA(nullptr);
    PasswordCheck password_;
    bool saver_running_announced_ = false;

    HWND window_ = nullptr;
    HWND parent_ = nullptr;
    HFONT font_ = nullptr;
    int32_t band_height_ = 0;
};

Player* g_player = nullptr;

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (g_player) return g_player->Message(window, message, w, l);
    return ::DefWindowProcA(window, message, w, l);
}

// ------------------------------------------------------------------ start-up

bool Player::ParseOptions(int* exit_code) {
    executable_ = platform::ExecutablePath();
    saver_ = IsScreenSaverPath(executable_);
    std::string command_line = CommandLineTail(::GetCommandLineA());
    OptionInput input = PlatformOptionInput(command_line, saver_);
    input.screen_width = ::GetSystemMetrics(SM_CXSCREEN);
    input.screen_height = ::GetSystemMetrics(SM_CYSCREEN);
    OptionResult result = BuildPlayerOptions(input);
    if (saver_) {
        saver_argument_ = ParseSaverArgument(command_line);
        if (saver_argument_.action == SaverAction::kConfigure) {
            boxes_.Show(nullptr, kPlayerTitle, kSaverNoSettingsText, MB_OK | MB_ICONINFORMATION);
        }
        if (saver_argument_.action == SaverAction::kConfigure ||
            saver_argument_.action == SaverAction::kExit) {
            *exit_code = 0;
            return false;
        }
    }
    if (result.status != OptionStatus::kOk) {
        const bool help = result.status == OptionStatus::kHelp;
        boxes_.Show(nullptr, help ? kHelpTitle : kErrorTitle, help ? HelpText() : result.message,
                    help ? MB_OK | MB_ICONINFORMATION : MB_OK | MB_ICONERROR);
        *exit_code = 1;
        return false;
    }
    TakeOptions(result.options, result.movies);
    return true;
}

bool Player::CreatePlayerWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProcedure;
    wc.hInstance = instance_;
    wc.hIcon = ::LoadIconA(instance_, MAKEINTRESOURCEA(kIconId));
    wc.hCursor = options_.hide_cursor ? ::LoadCursorA(instance_, MAKEINTRESOURCEA(kCursorId))
                                      : ::LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    const bool preview =
        saver_ && saver_argument_.action == SaverAction::kPreview && saver_argument_.mode >= 17;
    DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX;
    if (options_.window_style == 0) style |= WS_CAPTION;
    DWORD ex_style = options_.window_style == 2 ? 0 : WS_EX_DLGMODALFRAME;
    if (options_.always_on_top) ex_style |= WS_EX_TOPMOST;
    // A preview handle below 17 names no window: the preview gets its own.
    const bool small_preview =
        saver_ && saver_argument_.action == SaverAction::kPreview && saver_argument_.mode < 17;
    if (options_.parent_window != 0 && !small_preview) {
        parent_ = reinterpret_cast<HWND>(static_cast<intptr_t>(options_.parent_window));
    }
    if (preview) {
        style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
        ex_style = 0;
    }
    window_ = ::CreateWindowExA(ex_style, kWindowClass, kPlayerTitle, style, 0, 0, 32, 32, parent_,
                                nullptr, instance_, nullptr);
    if (!window_) {
        boxes_.Show(nullptr, "Windows", "Error creating window.", MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

void Player::ShowError(const std::string& text) {
    boxes_.Show(window_, kErrorTitle, text, MB_OK | MB_ICONERROR);
}

bool Player::PassVersionCheck() {
    auto ask = [&] {
        return boxes_.Show(window_, kVersionCheckTitle, kVersionCheckText,
                           MB_YESNO | MB_ICONQUESTION) == IDYES;
    };
    if (RunVersionCheck(executable_, ask, OpenInBrowser)) return true;
    window_closing_ = true;
    ::DestroyWindow(window_);
    window_ = nullptr;
    return false;
}

DisplayArea Player::AreaForMovie() {
    DisplayArea area;
    area.width = ::GetSystemMetrics(SM_CXSCREEN);
    area.height = ::GetSystemMetrics(SM_CYSCREEN);
    if (options_.screen_width > 0) area.width = options_.screen_width;
    if (options_.screen_height > 0) area.height = options_.screen_height;
    area.fill = (::GetWindowLongA(window_, GWL_STYLE) & WS_CHILD) != 0;
    if (area.fill) {  // the preview fills its parent
        RECT parent{};
        ::GetClientRect(::GetParent(window_), &parent);
        area.width = parent.right;
        area.height = parent.bottom;
    }
    return area;
}

void Player::DisplayFailed() {
    ::ShowWindow(window_, SW_HIDE);
    boxes_.Show(nullptr, kErrorTitle, GetLastDisplayError(), MB_OK | MB_ICONERROR);
}

// Measures the statistics sample text: its width is returned, its height
// kept as the band's.
int32_t Player::MeasureBand() {
    if (!font_) font_ = static_cast<HFONT>(::GetStockObject(ANSI_FIXED_FONT));
    HDC dc = ::GetDC(window_);
    HGDIOBJ old = ::SelectObject(dc, font_);
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, kStatisticsSample,
                            static_cast<int>(std::min<size_t>(100, std::strlen(kStatisticsSample))),
                            &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(window_, dc);
    band_height_ = extent.cy;
    return extent.cx;
}

void Player::PlaceWindow(uint32_t shown_width, uint32_t shown_height) {
    const int32_t screen_w = ::GetSystemMetrics(SM_CXSCREEN);
    const int32_t screen_h = ::GetSystemMetrics(SM_CYSCREEN);
    const int32_t shown_w = static_cast<int32_t>(shown_width);
    const int32_t shown_h = static_cast<int32_t>(shown_height);
    movie_x_ = movie_y_ = 0;
    int32_t client_w = shown_w, client_h = shown_h;
    if (statistics_) {
        const int32_t sample_width = MeasureBand();
        BandLayout band = LayOutBand(client_w, client_h, sample_width, band_height_);
        movie_x_ = band.movie_x;
        movie_y_ = band.movie_y;
        client_w = band.client_width;
        client_h = band.client_height;
    }
    const LONG style = ::GetWindowLongA(window_, GWL_STYLE);
    if (style & WS_CHILD) {
        RECT area{};
        ::GetClientRect(::GetParent(window_), &area);
        client_width_ = area.right;
        client_height_ = area.bottom;
        movie_x_ = movie_y_ = 0;
        ::MoveWindow(window_, 0, 0, area.right, area.bottom, TRUE);
    } else if (options_.black_background) {
        // The client area covers the screen; the movie sits in its middle.
        movie_x_ += (screen_w - client_w) / 2;
        movie_y_ += (screen_h - client_h) / 2;
        client_width_ = screen_w;
        client_height_ = screen_h;
        ::SetWindowPos(window_, nullptr, 0, 0, screen_w, screen_h, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        client_width_ = client_w;
        client_height_ = client_h;
        RECT r{0, 0, client_w, client_h};
        ::AdjustWindowRectEx(&r, static_cast<DWORD>(style), FALSE,
                             static_cast<DWORD>(::GetWindowLongA(window_, GWL_EXSTYLE)));
        const int32_t outer_w = r.right - r.left, outer_h = r.bottom - r.top;
        int32_t x = PlaceWindowCoordinate(options_.x, outer_w, screen_w, -r.left, true);
        int32_t y = PlaceWindowCoordinate(options_.y, outer_h, screen_h, -r.top, false);
        ::SetWindowPos(window_, nullptr, x, y, outer_w, outer_h, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetDisplayBufferOffset(display_, movie_x_, movie_y_);
    ::ShowWindow(window_, SW_SHOW);
    copy_flags_ |= kCopyAll;
    if (IsInterlaced(movie_scaling_mode_)) {
        RECT movie{movie_x_, movie_y_, movie_x_ + shown_w, movie_y_ + shown_h};
        ::InvalidateRect(window_, &movie, FALSE);
    }
    UpdateTitle();
}

void Player::ClosingImageShown() {
    HDC dc = ::GetDC(window_);
    FillBlack(dc);
    ::ReleaseDC(window_, dc);
}

// ------------------------------------------------------------------ the loop

void Player::EndAfterFailedOpen(int code) {
    exit_code_ = code;
    window_closing_ = true;
    if (window_) ::DestroyWindow(window_);
}

bool Player::RemoveWindow() {
    ::DestroyWindow(window_);
    return true;  // the quit message ends the loop
}

bool Player::LoopPass() {
    MSG msg;
    if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return false;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
        return true;
    }
    return IdlePass();
}

void Player::PlaybackStep() {
    RunStep({}, false);
    if (statistics_) {
        HDC dc = ::GetDC(window_);
        DrawStatistics(dc);
        ::ReleaseDC(window_, dc);
    }
    if (user_paused_) {
        PauseMovie(movie_, 1);
        UpdateTitle();
    }
}

void Player::HandleKey(WPARAM key) {
    switch (key) {
        case VK_SPACE:
            if (UseControl(Control::kPause)) UpdateTitle();
            break;
        case VK_RETURN:
            UseControl(Control::kStep);
            break;
        case VK_OEM_PERIOD:
        case VK_DECIMAL:
            UseControl(Control::kNext);
            break;
        case VK_ESCAPE:
            UseControl(Control::kQuit);
            break;
        default:
            break;
    }
}

void Player::EndSaverOnInput() {
    if (saver_argument_.action == SaverAction::kRunSystem && !password_.Passes(window_)) {
        TouchPause(movie_);  // the saver keeps running
        return;
    }
    EndLikeEscape();
}

void Player::FillBlack(HDC dc) {
    RECT all{0, 0, client_width_, client_height_};
    ::GetClientRect(window_, &all);
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
}

void Player::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(window_, &ps);
    if (PaintsBlack()) FillBlack(dc);
    ::EndPaint(window_, &ps);
    copy_flags_ |= kCopyAll;
    if (display_ && display_->writes_primary) RedrawOnScreen();
    if (display_) BlitDisplayBuffer(display_, nullptr, 0);
    if (statistics_) {
        dc = ::GetDC(window_);
        DrawStatistics(dc);
        ::ReleaseDC(window_, dc);
    }
}

// A buffer that is the screen itself lost its picture to the paint above;
// a paused movie would stay black until its next frame, so copy the picture
// on show once more.
void Player::RedrawOnScreen() {
    if (!movie_ || !stepped_ || !LockDisplayBuffer(display_)) return;
    MovieInfo info{};
    GetMovieInfo(movie_, &info);
    CopyFrameToSurface(movie_, display_->pointer, display_->pitch, display_->height, 0, 0, 0, 0,
                       info.width, info.height, display_->surface_type | kCopyAll);
    UnlockDisplayBuffer(display_);
}

void Player::DrawStatistics(HDC dc) {
    if (!movie_) return;
    RealtimeStats stats{};
    GetRealtimeStats(0, movie_, &stats);
    std::string line = StatisticsLine(stats);
    const int top = movie_y_ - band_height_;
    RECT band{0, top, client_width_, top + band_height_};
    HGDIOBJ old = ::SelectObject(dc, font_);
    ::SetTextColor(dc, RGB(255, 255, 0));
    ::SetBkColor(dc, RGB(0, 0, 0));
    ::SetTextAlign(dc, TA_TOP | TA_CENTER);
    ::ExtTextOutA(dc, client_width_ / 2, top, ETO_OPAQUE, &band, line.c_str(),
                  static_cast<UINT>(line.size()), nullptr);
    ::SelectObject(dc, old);
}

void Player::UpdateTitle() {
    if (!window_ || (::GetWindowLongA(window_, GWL_STYLE) & WS_CHILD)) return;
    MovieInfo now{};
    if (movie_) GetMovieInfo(movie_, &now);
    ::SetWindowTextA(window_, PlayerTitle(now, closing_image_ || !movie_, user_paused_).c_str());
}

LRESULT Player::Message(HWND window, UINT message, WPARAM w, LPARAM l) {
    const bool ends_saver = saver_ && InputEndsSaver(saver_argument_);
    switch (message) {
        case WM_DESTROY:
            window_closing_ = true;
            ::PostQuitMessage(0);
            return 0;
        case WM_SETFOCUS:
            FocusChanged(true);
            return 0;
        case WM_KILLFOCUS:
            FocusChanged(false);
            return 0;
        case WM_ACTIVATEAPP:
            if (ends_saver && !w) EndSaverOnInput();
            break;
        case WM_POWERBROADCAST:
            if (ends_saver && w == PBT_APMSUSPEND) EndSaverOnInput();
            break;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            if (ends_saver) {
                EndSaverOnInput();
                return 0;
            }
            HandleKey(w);
            TouchPause(movie_);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (ends_saver) {
                EndSaverOnInput();
                return 0;
            }
            TouchPause(movie_);
            return 0;
        case WM_LBUTTONUP:
            if (closing_image_ && !saver_) OpenInBrowser(kMakerSite);
            return 0;
        case WM_MOUSEMOVE:
            if (ends_saver &&
                mouse_watch_.Moved(static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l)))) {
                EndSaverOnInput();
            }
            return 0;
        case WM_SYSCOMMAND:
            if (saver_ && (w & 0xFFF0) != SC_MINIMIZE && (w & 0xFFF0) != SC_RESTORE &&
                ((w & 0xFFF0) == SC_CLOSE || (w & 0xFFF0) == SC_NEXTWINDOW ||
                 (w & 0xFFF0) == SC_PREVWINDOW || (w & 0xFFF0) == SC_SCREENSAVE)) {
                return 0;
            }
            break;
        case WM_WINDOWPOSCHANGING: {
            auto* pos = reinterpret_cast<WINDOWPOS*>(l);
            if (display_ && !(pos->flags & SWP_NOMOVE)) {
                int32_t x = pos->x + movie_x_, y = pos->y + movie_y_;
                AdjustWindowPosition(display_, &x, &y);
                pos->x = x - movie_x_;
                pos->y = y - movie_y_;
            }
            break;
        }
        case WM_WINDOWPOSCHANGED:
        case WM_SIZE:
            if (display_) SetDisplayBufferOffset(display_, movie_x_, movie_y_);
            break;
        default:
            break;
    }
    return ::DefWindowProcA(window, message, w, l);
}

int Player::ExitPath() {
    EndLoopTimer();
    if (saver_running_announced_) AnnounceSaverRunning(false);
    const std::string report = SummaryText();
    Shutdown();
    if (!report.empty()) {
        ::Sleep(10);
        boxes_.Show(nullptr, kSummaryTitle, report, MB_OK | MB_ICONINFORMATION);
    }
    return exit_code_;
}

void Player::Shutdown() {
    CloseMovieAndDisplay();
    if (window_ && ::IsWindow(window_)) {
        window_closing_ = true;
        ::DestroyWindow(window_);
    }
    window_ = nullptr;
}

int Player::Run() {
    int code = 0;
    if (!ParseOptions(&code)) return code;
    RequestDisplayMode();
    SetDisplaySystem(PlayerDisplaySystem());
    if (!CreatePlayerWindow()) return 1;
    UseSoundBackEnd(options_.use_wave_out);
    if (!OpenMovieNamed(movies_.TakeNext(), &code)) {
        Shutdown();
        return code;
    }
    if (saver_ && saver_argument_.action == SaverAction::kRunSystem) {
        AnnounceSaverRunning(true);
        saver_running_announced_ = true;
    }
    BeginLoop();
    while (LoopPass()) {
    }
    return ExitPath();
}

}  // namespace

int RunWin32Player() {
    Player player;
    g_player = &player;
    int code = player.Run();
    g_player = nullptr;
    return code;
}

}  // namespace vemo::player
