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
#include "closing_image.h"
#include "options.h"
#include "playback.h"
#include "report.h"
#include "saver.h"
#include "saver_win32.h"
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

class Player {
  public:
    int Run();
    LRESULT Message(HWND window, UINT message, WPARAM w, LPARAM l);

  private:
    // Start-up.
    bool ParseOptions(int* exit_code);
    bool CreatePlayerWindow();
    bool OpenMovieNamed(const std::string& name, int* exit_code);
    bool ShowMovie(bool recentre);
    void PlaceWindow(int32_t shown_w, int32_t shown_h);
    bool OpenClosingImage();
    void Fail(const std::string& text, int* exit_code);

    // The loop.
    bool LoopPass();
    void MovieFinished();
    void PlaybackStep();
    void HandleKey(WPARAM key);
    void EndLikeEscape();
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
    PlayerOptions options_;
    MovieList movies_;
    std::string executable_;
    bool saver_ = false;
    SaverArgument saver_argument_;
    SaverMouseWatch mouse_watch_;
    PasswordCheck password_;
    bool saver_running_announced_ = false;

    HWND window_ = nullptr;
    HWND parent_ = nullptr;
    HFONT font_ = nullptr;
    Movie* movie_ = nullptr;
    MovieInfo info_{};
    DisplayBuffer* display_ = nullptr;
    EmbeddedFile embedded_;
    bool user_paused_ = false;
    bool focused_ = true;
    bool finished_ = false;
    int skip_request_ = 0;  // 1 next movie, 2 quit now
    bool closing_image_ = false;
    uint32_t closing_deadline_ = 0;
    bool window_closing_ = false;
    int32_t list_loop_count_ = 1;
    int32_t loop_count_ = 1;
    int32_t sleep_credit_ = 0;
    bool start_delay_ = false;
    uint32_t start_delay_time_ = 0;
    bool stepped_ = false;
    bool statistics_ = false;
    uint32_t copy_flags_ = 0;
    uint32_t movie_scaling_mode_ = 0;
    int32_t movie_x_ = 0, movie_y_ = 0;  // the movie's offset in the client area
    int32_t client_width_ = 0, client_height_ = 0;
    int32_t band_height_ = 0;
    MovieSummary summary_{};
    bool have_summary_ = false;
    std::vector<uint8_t> closing_bytes_;
    bool timer_raised_ = false;
    int exit_code_ = 0;
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
    options_ = result.options;
    movies_ = result.movies;
    if (saver_) start_delay_ = ApplySaverArgument(saver_argument_, &options_);
    statistics_ = options_.show_statistics;
    if (movies_.size() > 1) {
        list_loop_count_ = options_.loop_count;
        options_.loop_count = 1;
    }
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

void Player::Fail(const std::string& text, int* exit_code) {
    boxes_.Show(window_, kErrorTitle, text, MB_OK | MB_ICONERROR);
    *exit_code = 1;
}

bool Player::OpenMovieNamed(const std::string& name, int* exit_code) {
    MovieSource source;
    std::string error;
    if (!ResolveMovieName(name, executable_, &source, &error)) {
        Fail(error, exit_code);
        return false;
    }
    if (source.kind != MovieSourceKind::kExecutable) {
        auto ask = [&] {
            return boxes_.Show(window_, kVersionCheckTitle, kVersionCheckText,
                               MB_YESNO | MB_ICONQUESTION) == IDYES;
        };
        if (!RunVersionCheck(executable_, ask, OpenInBrowser)) {
            window_closing_ = true;
            ::DestroyWindow(window_);
            window_ = nullptr;
            *exit_code = 1;
            return false;
        }
    }
    Movie* movie = OpenMovieSource(source, options_, &embedded_, &error);
    if (!movie) {
        Fail(error, exit_code);
        return false;
    }
    CloseMovie(movie_);
    movie_ = movie;
    GetMovieInfo(movie_, &info_);
    loop_count_ = options_.loop_count;
    if (!ShowMovie(true)) {
        *exit_code = 1;
        return false;
    }
    return true;
}

// Opens (or keeps) the display buffer for the open movie and places the
// window around it.
bool Player::ShowMovie(bool recentre) {
    int32_t screen_w = ::GetSystemMetrics(SM_CXSCREEN), screen_h = ::GetSystemMetrics(SM_CYSCREEN);
    if (options_.screen_width > 0) screen_w = options_.screen_width;
    if (options_.screen_height > 0) screen_h = options_.screen_height;
    const bool preview = (::GetWindowLongA(window_, GWL_STYLE) & WS_CHILD) != 0;
    if (preview) {  // the preview fills its parent
        RECT area{};
        ::GetClientRect(::GetParent(window_), &area);
        screen_w = area.right;
        screen_h = area.bottom;
    }
    ShownMovie shown;
    if (!PrepareDisplay(window_, options_, info_, screen_w, screen_h, preview, closing_image_,
                        &display_, &shown)) {
        ::ShowWindow(window_, SW_HIDE);
        boxes_.Show(nullptr, kErrorTitle, GetLastDisplayError(), MB_OK | MB_ICONERROR);
        return false;
    }
    copy_flags_ = shown.copy_flags;
    movie_scaling_mode_ = shown.scaling_mode;
    if (recentre || shown.reopened) {
        PlaceWindow(static_cast<int32_t>(shown.width), static_cast<int32_t>(shown.height));
    }
    return true;
}

void Player::PlaceWindow(int32_t shown_w, int32_t shown_h) {
    const int32_t screen_w = ::GetSystemMetrics(SM_CXSCREEN);
    const int32_t screen_h = ::GetSystemMetrics(SM_CYSCREEN);
    movie_x_ = movie_y_ = 0;
    int32_t client_w = shown_w, client_h = shown_h;
    if (statistics_) {
        if (!font_) font_ = static_cast<HFONT>(::GetStockObject(ANSI_FIXED_FONT));
        HDC dc = ::GetDC(window_);
        HGDIOBJ old = ::SelectObject(dc, font_);
        SIZE extent{};
        ::GetTextExtentPoint32A(
            dc, kStatisticsSample,
            static_cast<int>(std::min<size_t>(100, std::strlen(kStatisticsSample))), &extent);
        ::SelectObject(dc, old);
        ::ReleaseDC(window_, dc);
        band_height_ = extent.cy;
        BandLayout band = LayOutBand(client_w, client_h, extent.cx, extent.cy);
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

bool Player::OpenClosingImage() {
    closing_bytes_ = ClosingImageMovie();
    if (closing_bytes_.empty()) return false;
    Movie* image = OpenMovie(closing_bytes_.data(), kOpenInMemory);
    if (!image) return false;
    CloseMovie(movie_);
    movie_ = image;
    GetMovieInfo(movie_, &info_);
    closing_image_ = true;
    statistics_ = false;
    if (!ShowMovie(false)) return false;
    HDC dc = ::GetDC(window_);
    FillBlack(dc);
    ::ReleaseDC(window_, dc);
    user_paused_ = false;
    loop_count_ = -1;  // the one frame stays
    return true;
}

// ------------------------------------------------------------------ the loop

void Player::MovieFinished() {
    finished_ = false;
    if (skip_request_ == 1) skip_request_ = 0;
    PauseMovie(movie_, 1);
    const bool more = movies_.HasNext() || --list_loop_count_ != 0;
    if (more) {
        if (!movies_.HasNext()) movies_.Restart();
        int code = 0;
        if (!OpenMovieNamed(movies_.TakeNext(), &code)) {
            exit_code_ = code;
            window_closing_ = true;
            if (window_) ::DestroyWindow(window_);
        }
        return;
    }
    GetSummary(movie_, &summary_);
    have_summary_ = true;
    closing_deadline_ = Milliseconds() + kClosingImageMs;
    if (!OpenClosingImage()) {
        CloseMovie(movie_);
        movie_ = nullptr;
        closing_image_ = true;
        closing_deadline_ = 0;
    }
}

bool Player::LoopPass() {
    MSG msg;
    if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return false;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
        return true;
    }
    if (start_delay_) {
        if (Milliseconds() - start_delay_time_ > kStartDelayMs) start_delay_ = false;
        return true;
    }
    if (movie_ && !window_closing_) {
        if (ShouldWait(movie_) != 0 && skip_request_ == 0) {
            sleep_credit_ += 1;
        } else {
            if (finished_ || skip_request_ == 1) MovieFinished();
            if (movie_ && !window_closing_) PlaybackStep();
        }
    } else {
        sleep_credit_ += 1;
    }
    if (user_paused_ || (!options_.keep_playing_unfocused && !focused_)) sleep_credit_ += 5;
    SleepFromCredit(&sleep_credit_);
    if (closing_image_ && !window_closing_) {
        if (closing_deadline_ == 0 ||
            static_cast<int32_t>(Milliseconds() - closing_deadline_) >= 0 || !movie_ ||
            skip_request_ == 2) {
            window_closing_ = true;
            ::DestroyWindow(window_);
        }
    }
    return true;
}

void Player::PlaybackStep() {
    stepped_ = true;
    auto shown = [&](const DisplayBuffer*) { GetMovieInfo(movie_, &info_); };
    if (RunPlaybackStep(movie_, display_, &copy_flags_, &loop_count_, shown).finished) {
        finished_ = true;
    }
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

void Player::EndLikeEscape() {
    movies_.Clear();
    list_loop_count_ = 1;
    skip_request_ = closing_image_ ? 2 : 1;
    if (!closing_image_ && movie_) {
        GetSummary(movie_, &summary_);
        have_summary_ = true;
    }
    if (movie_) PauseMovie(movie_, 0);
}

void Player::HandleKey(WPARAM key) {
    const int32_t disabled = options_.disabled_controls;
    switch (key) {
        case VK_SPACE:
            if (disabled & kDisablePause) break;
            user_paused_ = !user_paused_;
            if (movie_) PauseMovie(movie_, user_paused_ ? 1 : 0);
            UpdateTitle();
            break;
        case VK_RETURN:
            if (disabled & kDisablePause) break;
            if (movie_) PauseMovie(movie_, 0);  // one step, then paused again
            break;
        case VK_OEM_PERIOD:
        case VK_DECIMAL:
            if ((disabled & kDisableSkip) || closing_image_) break;
            finished_ = true;
            break;
        case VK_ESCAPE:
            if (disabled & kDisableQuit) break;
            EndLikeEscape();
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
    if (stepped_ || options_.black_background || statistics_ || IsInterlaced(movie_scaling_mode_)) {
        FillBlack(dc);
    }
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
            if (!options_.keep_playing_unfocused && movie_ && !user_paused_) PauseMovie(movie_, 0);
            focused_ = true;
            return 0;
        case WM_KILLFOCUS:
            if (!options_.keep_playing_unfocused && movie_) PauseMovie(movie_, 1);
            focused_ = false;
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
    if (timer_raised_) {
        platform::EndTimerResolution1ms();
        timer_raised_ = false;
    }
    if (saver_running_announced_) AnnounceSaverRunning(false);
    std::string report;
    if (options_.show_summary && have_summary_) {
        report = SummaryReport(summary_, DisplayFactsOf(display_));
    }
    Shutdown();
    if (!report.empty()) {
        ::Sleep(10);
        boxes_.Show(nullptr, kSummaryTitle, report, MB_OK | MB_ICONINFORMATION);
    }
    return exit_code_;
}

void Player::Shutdown() {
    CloseMovie(movie_);
    movie_ = nullptr;
    embedded_.Close();
    CloseDisplayBuffer(display_);
    display_ = nullptr;
    if (window_ && ::IsWindow(window_)) {
        window_closing_ = true;
        ::DestroyWindow(window_);
    }
    window_ = nullptr;
}

int Player::Run() {
    int code = 0;
    if (!ParseOptions(&code)) return code;
    if (options_.display_depth_code >= 0 || options_.display_depth > 0) {
        SetDisplayModeRequest(static_cast<uint32_t>(options_.screen_width),
                              static_cast<uint32_t>(options_.screen_height),
                              static_cast<uint32_t>(options_.display_depth));
    }
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
    platform::BeginTimerResolution1ms();
    timer_raised_ = true;
    start_delay_time_ = Milliseconds();
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
