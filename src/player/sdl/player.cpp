#include "player.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "closing_image.h"
#include "command_line.h"
#include "display_sdl.h"
#include "options.h"
#include "playback.h"
#include "report.h"
#include "saver.h"
#include "sound_sdl.h"
#include "text_band.h"
#include "vemo/container.h"
#include "vemo/display_buffer.h"
#include "vemo/movie.h"
#include "vemo/movie_seek.h"
#include "vemo/platform.h"
#include "vemo/sound_driver.h"
#include "vemo/timer.h"

namespace vemo::player {

namespace {

// The volume keys step the level in sixteenths of the back end's range: the
// looping back end takes 0-32767, the queued one 0-65535.
constexpr uint32_t kVolumeSteps = 16;
constexpr uint32_t kVolumeShownMs = 1500;
uint32_t VolumeOfLevel(uint32_t level, bool queued) {
    const uint32_t full = queued ? 65535u : 32767u;
    return std::min(level, kVolumeSteps) * full / kVolumeSteps;
}

// Sets every played track's volume (in the back end's range).
void SetMovieVolume(Movie* movie, uint32_t volume) {
    for (uint32_t i = 0; SoundTrack* track = MovieSoundTrack(movie, i); ++i)
        track->back_end->volume(track->device, volume);
}

DisplayScreen GetDisplayScreen(SDL_Window* window) {
    DisplayScreen screen;
    SDL_DisplayMode mode{};
    int index = window ? SDL_GetWindowDisplayIndex(window) : 0;
    if (SDL_GetDesktopDisplayMode(index < 0 ? 0 : index, &mode) == 0) {
        screen.width = static_cast<uint32_t>(mode.w);
        screen.height = static_cast<uint32_t>(mode.h);
        screen.bits_per_pixel = SDL_BITSPERPIXEL(mode.format);
    }
    if (screen.width == 0 || screen.height == 0) {
        screen.width = 640;
        screen.height = 480;
    }
    return screen;
}

// Message boxes go to the test hook, to the terminal when no box can be
// shown (no display, or VEMO_MESSAGE_BOXES=0), else to the screen.
class Boxes {
  public:
    explicit Boxes(const PlayerHooks* hooks) : hooks_(hooks) {
        const char* env = std::getenv("VEMO_MESSAGE_BOXES");
        print_only_ = env && std::strcmp(env, "0") == 0;
    }
    void Show(const std::string& title, const std::string& text, uint32_t kind,
              SDL_Window* parent) {
        if (hooks_ && hooks_->message_box) {
            hooks_->message_box(title, text);
            return;
        }
        if (print_only_ || !HasDisplay() ||
            SDL_ShowSimpleMessageBox(kind, title.c_str(), text.c_str(), parent) != 0) {
            std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
        }
    }
    // Yes (true) or No; without a screen the answer is No.
    bool AskYesNo(const std::string& title, const std::string& text, SDL_Window* parent) {
        if (hooks_ && hooks_->message_box) {
            hooks_->message_box(title, text);
            return false;
        }
        if (print_only_ || !HasDisplay()) {
            std::fprintf(stderr, "%s: %s\n(answered No: no screen to ask on)\n", title.c_str(),
                         text.c_str());
            return false;
        }
        const SDL_MessageBoxButtonData buttons[] = {
            {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "No"},
            {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
        };
        SDL_MessageBoxData data = {
            SDL_MESSAGEBOX_INFORMATION, parent, title.c_str(), text.c_str(), 2, buttons, nullptr};
        int chosen = 0;
        if (SDL_ShowMessageBox(&data, &chosen) != 0) return false;
        return chosen == 1;
    }

    // True when boxes end up as text on the terminal.
    bool PrintsOnly() const {
        return !(hooks_ && hooks_->message_box) && (print_only_ || !HasDisplay());
    }

  private:
    static bool HasDisplay() {
        const char* driver = SDL_GetCurrentVideoDriver();
        return driver && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0;
    }
    const PlayerHooks* hooks_;
    bool print_only_ = false;
};

void OpenInBrowser(const std::string& address) {
    std::string command = "xdg-open '" + address + "' >/dev/null 2>&1 &";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "vemoplay: could not open %s\n", address.c_str());
    }
}

class Player;
void PresentHook(DisplayWindow window, void* renderer, void* context);

class Player {
  public:
    Player(const PlayerHooks* hooks) : hooks_(hooks), boxes_(hooks) {}
    ~Player() { Shutdown(); }
    int Run(int argc, char** argv);

  private:
    // Start-up.
    bool ParseOptions(int argc, char** argv, int* exit_code);
    bool CreateWindow();
    bool OpenMovieNamed(const std::string& name, int* exit_code);
    bool OpenClosingImage();
    bool ShowMovie(bool recentre);
    void PlaceWindow(uint32_t client_width, uint32_t client_height);
    void FitToWindow(int32_t width, int32_t height);
    bool ScaleDisplay(uint32_t width, uint32_t height);
    void ToggleFullScreen();
    void PlayDropped(const std::string& name);
    void StepVolume(int direction);
    bool VersionCheck(int* exit_code);

    // The loop.
    bool LoopPass();
    void PlaybackStep();
    void HandleEvent(const SDL_Event& event);
    void HandleKey(SDL_Keycode key);
    void EndLikeEscape();
    void MovieFinished();
    void Paint();
    void FillWindowBlack();
    void SendProbe(const StepOutcome& outcome, PlayerProbe* probe);
    void DrawStatistics();

  public:
    void Present(void* renderer);

  private:
    void UpdateTitle();
    void Seek(int direction);
    int ExitPath();
    void Shutdown();

    const PlayerHooks* hooks_;
    Boxes boxes_;
    PlayerOptions options_;
    MovieList movies_;
    bool saver_ = false;
    SaverArgument saver_argument_;
    SaverMouseWatch mouse_watch_;
    std::string executable_;

    SDL_Window* window_ = nullptr;
    bool foreign_window_ = false;
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
    bool quit_ = false;
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
    MovieSummary summary_{};
    bool have_summary_ = false;
    uint32_t steps_ = 0;
    std::vector<uint8_t> closing_bytes_;
    TextBand band_;
    std::string current_name_;
    std::string statistics_line_;
    uint32_t volume_level_ = kVolumeSteps;  // full; kept across the list
    uint32_t volume_shown_until_ = 0;       // the title shows the level until then
    bool fullscreen_ = false;
    // The window as laid out for the movie: its client size, the movie's
    // place in it and the size the movie is shown at.
    int32_t layout_width_ = 0, layout_height_ = 0, layout_x_ = 0, layout_y_ = 0;
    uint32_t shown_width_ = 0, shown_height_ = 0;
    bool timer_raised_ = false;
    int exit_code_override_ = 0;
};

// ------------------------------------------------------------------ start-up

bool Player::ParseOptions(int argc, char** argv, int* exit_code) {
    executable_ = platform::ExecutablePath();
    // The name the program was started by decides, not a link's target.
    saver_ =
        IsScreenSaverPath(argc > 0 && argv[0] && *argv[0] ? std::string(argv[0]) : executable_);
    std::vector<std::string> arguments(argv + 1, argv + argc);

    SDL_DisplayMode mode{};
    int32_t screen_width = 640, screen_height = 480;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
        screen_width = mode.w;
        screen_height = mode.h;
    }

    OptionInput input = PlatformOptionInput(PosixCommandLine(arguments), saver_);
    input.screen_width = screen_width;
    input.screen_height = screen_height;
    OptionResult result = BuildPlayerOptions(input);

    if (saver_) {
        std::string line;
        for (const std::string& a : arguments) line += " " + a;
        saver_argument_ = ParseSaverArgument(line);
        // A saver started by the X screen saver draws into the window it names.
        const char* xwindow = std::getenv("XSCREENSAVER_WINDOW");
        if (xwindow && *xwindow &&
            (saver_argument_.action == SaverAction::kRun ||
             saver_argument_.action == SaverAction::kExit)) {
            saver_argument_ = ParseSaverArgument(std::string(" /p ") + xwindow);
        }
        if (saver_argument_.action == SaverAction::kConfigure) {
            boxes_.Show(kPlayerTitle, kSaverNoSettingsText, SDL_MESSAGEBOX_INFORMATION, nullptr);
            *exit_code = 0;
            return false;
        }
        if (saver_argument_.action == SaverAction::kExit) {
            *exit_code = 0;
            return false;
        }
    }

    if (result.status == OptionStatus::kHelp) {
        boxes_.Show(kHelpTitle, HelpText(), SDL_MESSAGEBOX_INFORMATION, nullptr);
        *exit_code = 1;
        return false;
    }
    if (result.status == OptionStatus::kError) {
        boxes_.Show(kErrorTitle, result.message, SDL_MESSAGEBOX_ERROR, nullptr);
        *exit_code = 1;
        return false;
    }
    options_ = result.options;
    movies_ = RestoreSlashes(result.movies);

    if (saver_) {
        start_delay_ = ApplySaverArgument(saver_argument_, &options_);
    }
    statistics_ = options_.show_statistics;
    if (movies_.size() > 1) {
        list_loop_count_ = options_.loop_count;
        options_.loop_count = 1;
    }
    return true;
}

bool Player::CreateWindow() {
    const bool preview = saver_ && saver_argument_.action == SaverAction::kPreview;
    if (preview && saver_argument_.parent >= 17) {
        window_ = SDL_CreateWindowFrom(reinterpret_cast<void*>(saver_argument_.parent));
        foreign_window_ = window_ != nullptr;
    } else if (!saver_ && options_.parent_window != 0) {
        // SDL cannot make a child window: the movie fills the parent itself.
        window_ = SDL_CreateWindowFrom(
            reinterpret_cast<void*>(static_cast<uintptr_t>(options_.parent_window)));
        if (!window_) {
            boxes_.Show(kErrorTitle,
                        "Cannot play in the parent window " +
                            std::to_string(options_.parent_window) + ": " + SDL_GetError(),
                        SDL_MESSAGEBOX_ERROR, nullptr);
            return false;
        }
        foreign_window_ = true;
    }
    if (!window_) {
        // 0: caption and frame, resizable; 1: no caption, a frame to resize
        // by; 2: nothing around the movie.
        uint32_t flags = SDL_WINDOW_HIDDEN;
        if (options_.window_style != 0) flags |= SDL_WINDOW_BORDERLESS;
        if (options_.window_style != 2 && !options_.black_background && !saver_) {
            flags |= SDL_WINDOW_RESIZABLE;
        }
        if (options_.always_on_top) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
        window_ = SDL_CreateWindow(kPlayerTitle, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 32,
                                   32, flags);
    }
    if (!window_) {
        boxes_.Show("Windows", "Error creating window.", SDL_MESSAGEBOX_ERROR, nullptr);
        return false;
    }
    if (options_.hide_cursor) SDL_ShowCursor(SDL_DISABLE);
    return true;
}

bool Player::VersionCheck(int* exit_code) {
    if (RunVersionCheck(
            executable_,
            [&] { return boxes_.AskYesNo(kVersionCheckTitle, kVersionCheckText, window_); },
            OpenInBrowser)) {
        return true;
    }
    *exit_code = 1;
    return false;
}

bool Player::OpenMovieNamed(const std::string& name, int* exit_code) {
    MovieSource source;
    std::string error;
    if (!ResolveMovieName(name, executable_, &source, &error)) {
        boxes_.Show(kErrorTitle, error, SDL_MESSAGEBOX_ERROR, window_);
        *exit_code = 1;
        return false;
    }
    if (source.kind != MovieSourceKind::kExecutable && !VersionCheck(exit_code)) return false;

    Movie* movie = OpenMovieSource(source, options_, &embedded_, &error);
    if (!movie) {
        boxes_.Show(kErrorTitle, error, SDL_MESSAGEBOX_ERROR, window_);
        *exit_code = 1;
        return false;
    }
    CloseMovie(movie_);
    movie_ = movie;
    GetMovieInfo(movie_, &info_);
    current_name_ = name;
    loop_count_ = options_.loop_count;
    if (volume_level_ != kVolumeSteps) {
        SetMovieVolume(movie_, VolumeOfLevel(volume_level_, options_.use_wave_out));
    }
    if (!ShowMovie(true)) {
        *exit_code = 1;
        return false;
    }
    return true;
}

// Opens (or keeps) the display buffer for the open movie and places the
// window around it.
bool Player::ShowMovie(bool recentre) {
    DisplayScreen screen = GetDisplayScreen(window_);
    int32_t screen_w = options_.screen_width > 0 ? options_.screen_width : screen.width;
    int32_t screen_h = options_.screen_height > 0 ? options_.screen_height : screen.height;
    if (foreign_window_) {
        SDL_GetWindowSize(window_, &screen_w, &screen_h);
    }
    ShownMovie shown;
    if (!PrepareDisplay(window_, options_, info_, screen_w, screen_h, foreign_window_,
                        closing_image_, &display_, &shown)) {
        if (!foreign_window_) SDL_HideWindow(window_);
        boxes_.Show(kErrorTitle, GetLastDisplayError(), SDL_MESSAGEBOX_ERROR, nullptr);
        return false;
    }
    copy_flags_ = shown.copy_flags;
    movie_scaling_mode_ = shown.scaling_mode;
    shown_width_ = shown.width;
    shown_height_ = shown.height;
    if (recentre || shown.reopened) PlaceWindow(shown.width, shown.height);
    return true;
}

void Player::PlaceWindow(uint32_t shown_w, uint32_t shown_h) {
    DisplayScreen screen = GetDisplayScreen(window_);
    int32_t screen_w = static_cast<int32_t>(screen.width),
            screen_h = static_cast<int32_t>(screen.height);
    movie_x_ = 0;
    movie_y_ = 0;
    int32_t client_w = static_cast<int32_t>(shown_w), client_h = static_cast<int32_t>(shown_h);
    if (statistics_) {
        band_.Open();
        BandLayout band = LayOutBand(client_w, client_h, band_.SampleWidth(), band_.Height());
        movie_x_ = band.movie_x;
        movie_y_ = band.movie_y;
        client_w = band.client_width;
        client_h = band.client_height;
    }
    if (foreign_window_) {
        SDL_GetWindowSize(window_, &client_width_, &client_height_);
        movie_x_ = 0;
        movie_y_ = 0;
    } else if (options_.black_background) {
        // The client area covers the screen; the movie sits in its middle.
        movie_x_ = (screen_w - client_w) / 2 + movie_x_;
        movie_y_ = (screen_h - client_h) / 2 + movie_y_;
        client_width_ = screen_w;
        client_height_ = screen_h;
        SDL_SetWindowSize(window_, screen_w, screen_h);
        SDL_SetWindowPosition(window_, 0, 0);
    } else {
        client_width_ = client_w;
        client_height_ = client_h;
        SDL_SetWindowSize(window_, client_w, client_h);
        int top = 0, left = 0, bottom = 0, right = 0;
        SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right);
        int32_t outer_w = client_w + left + right, outer_h = client_h + top + bottom;
        int32_t x = PlaceWindowCoordinate(options_.x, outer_w, screen_w, left, true);
        int32_t y = PlaceWindowCoordinate(options_.y, outer_h, screen_h, top, false);
        AdjustWindowPosition(display_, &x, &y);
        // SDL places windows by their client area.
        SDL_SetWindowPosition(window_, x + left, y + top);
    }
    layout_width_ = client_width_;
    layout_height_ = client_height_;
    layout_x_ = movie_x_;
    layout_y_ = movie_y_;
    SetDisplayBufferOffset(display_, movie_x_, movie_y_);
    if (!foreign_window_) SDL_ShowWindow(window_);
    copy_flags_ |= kCopyAll;
    if (IsInterlaced(movie_scaling_mode_)) FillWindowBlack();
    if (fullscreen_) {
        int w = 0, h = 0;
        SDL_GetWindowSize(window_, &w, &h);
        FitToWindow(w, h);
    }
    UpdateTitle();
}

// The movie as large as a client area of width x height allows, its shape
// kept, centred on black (below the statistics band). The laid-out size
// gives the layout back.
void Player::FitToWindow(int32_t width, int32_t height) {
    if (!display_ || foreign_window_ || width <= 0 || height <= 0) return;
    client_width_ = width;
    client_height_ = height;
    uint32_t fit_w = shown_width_, fit_h = shown_height_;
    if (width == layout_width_ && height == layout_height_) {
        movie_x_ = layout_x_;
        movie_y_ = layout_y_;
        if (!ScaleDisplay(fit_w, fit_h) && !display_) return;
    } else {
        const int32_t top = statistics_ ? band_.Height() : 0;
        const uint64_t area_w = static_cast<uint32_t>(width);
        const uint64_t area_h = static_cast<uint32_t>(std::max(height - top, 1));
        if (area_w * shown_height_ <= area_h * shown_width_) {
            fit_w = static_cast<uint32_t>(area_w);
            fit_h =
                static_cast<uint32_t>(std::max<uint64_t>(1, shown_height_ * area_w / shown_width_));
        } else {
            fit_h = static_cast<uint32_t>(area_h);
            fit_w =
                static_cast<uint32_t>(std::max<uint64_t>(1, shown_width_ * area_h / shown_height_));
        }
        if (!ScaleDisplay(fit_w, fit_h)) {
            if (!display_) return;  // no buffer opens any more: the player ends
            // The style cannot scale: centred at the size it has.
            fit_w = display_->scaled_width;
            fit_h = display_->scaled_height;
        }
        movie_x_ = (width - static_cast<int32_t>(fit_w)) / 2;
        movie_y_ = top + (static_cast<int32_t>(area_h) - static_cast<int32_t>(fit_h)) / 2;
    }
    SetDisplayBufferOffset(display_, movie_x_, movie_y_);
    FillWindowBlack();
    copy_flags_ |= kCopyAll;
    BlitDisplayBuffer(display_, nullptr, 0);
}

// Shows the buffer at width x height; an automatically chosen style that
// cannot scale gives way to one that can. False when the size is not taken.
bool Player::ScaleDisplay(uint32_t width, uint32_t height) {
    if (display_->scaled_width == width && display_->scaled_height == height) return true;
    if (SetDisplayBufferScale(display_, width, height)) return true;
    if ((options_.display_flags & kDisplayOpenStyleMask) != 0) return false;
    const uint32_t flags = options_.display_flags | kScaleCapabilityMask;
    const uint32_t buffer_w = display_->width, buffer_h = display_->height;
    DisplayBuffer* fresh = OpenDisplayBuffer(window_, buffer_w, buffer_h, flags);
    if (!fresh) {
        // One window is drawn one way at a time: the old buffer goes first.
        CloseDisplayBuffer(display_);
        display_ = nullptr;
        fresh = OpenDisplayBuffer(window_, buffer_w, buffer_h, flags);
        if (!fresh) fresh = OpenDisplayBuffer(window_, buffer_w, buffer_h, options_.display_flags);
        if (!fresh) {
            boxes_.Show(kErrorTitle, GetLastDisplayError(), SDL_MESSAGEBOX_ERROR, nullptr);
            quit_ = true;
            exit_code_override_ = 1;
            return false;
        }
    } else {
        CloseDisplayBuffer(display_);
    }
    display_ = fresh;
    copy_flags_ |= kCopyAll;
    return SetDisplayBufferScale(display_, width, height) != 0;
}

void Player::ToggleFullScreen() {
    if (foreign_window_ || saver_ || !window_) return;
    fullscreen_ = !fullscreen_;
    SDL_SetWindowFullscreen(window_, fullscreen_ ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    if (!fullscreen_) SDL_SetWindowSize(window_, layout_width_, layout_height_);
    int w = 0, h = 0;
    SDL_GetWindowSize(window_, &w, &h);
    if (fullscreen_ && (w == layout_width_ && h == layout_height_)) {
        // The window system keeps its size: the screen's is the one wanted.
        DisplayScreen screen = GetDisplayScreen(window_);
        SDL_SetWindowSize(window_, static_cast<int>(screen.width), static_cast<int>(screen.height));
        SDL_GetWindowSize(window_, &w, &h);
    }
    FitToWindow(w, h);
}

// A movie dropped on the window replaces the list and plays now; one that
// does not open leaves the current one playing.
void Player::PlayDropped(const std::string& name) {
    if (saver_ || name.empty()) return;
    const bool was_closing = closing_image_;
    closing_image_ = false;
    int code = 0;
    if (!OpenMovieNamed(name, &code)) {
        closing_image_ = was_closing;
        if (!display_ || !movie_) {
            quit_ = true;
            exit_code_override_ = code;
        }
        return;
    }
    movies_ = MovieList({name});
    movies_.TakeNext();
    list_loop_count_ = 1;
    finished_ = false;
    skip_request_ = 0;
    user_paused_ = false;
    statistics_ = options_.show_statistics;
    if (statistics_) SetSdlPresentHook(&PresentHook, this);
    UpdateTitle();
}

void Player::StepVolume(int direction) {
    if (direction > 0 && volume_level_ < kVolumeSteps) ++volume_level_;
    if (direction < 0 && volume_level_ > 0) --volume_level_;
    if (movie_) SetMovieVolume(movie_, VolumeOfLevel(volume_level_, options_.use_wave_out));
    volume_shown_until_ = Milliseconds() + kVolumeShownMs;
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
    current_name_.clear();
    closing_image_ = true;
    if (!ShowMovie(false)) return false;
    // A kept buffer still holds the last frame around the image.
    ClearDisplayBuffer(display_);
    FillWindowBlack();
    statistics_ = false;
    SetSdlPresentHook(nullptr, nullptr);
    user_paused_ = false;
    loop_count_ = -1;  // the one frame stays
    return true;
}

// ------------------------------------------------------------------ the loop

void Player::MovieFinished() {
    finished_ = false;
    if (skip_request_ == 1) skip_request_ = 0;
    PauseMovie(movie_, 1);
    if (movies_.HasNext()) {
        int code = 0;
        if (!OpenMovieNamed(movies_.TakeNext(), &code)) {
            quit_ = true;
            exit_code_override_ = code;
        }
        return;
    }
    if (--list_loop_count_ != 0) {
        movies_.Restart();
        int code = 0;
        if (!OpenMovieNamed(movies_.TakeNext(), &code)) {
            quit_ = true;
            exit_code_override_ = code;
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
    SDL_Event event;
    if (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) return false;
        HandleEvent(event);
        return !quit_;
    }
    if (quit_) return false;
    if (start_delay_) {
        if (Milliseconds() - start_delay_time_ > kStartDelayMs) start_delay_ = false;
        return true;
    }
    bool waited = true;
    if (movie_ && !window_closing_) {
        waited = ShouldWait(movie_) != 0 && skip_request_ == 0;
        if (!waited) {
            if (finished_ || skip_request_ == 1) {
                MovieFinished();
                if (quit_) return false;
            }
            if (movie_) PlaybackStep();
        }
    }
    if (volume_shown_until_ != 0 &&
        static_cast<int32_t>(Milliseconds() - volume_shown_until_) >= 0) {
        UpdateTitle();
    }
    sleep_credit_ +=
        PassSleepCredit(waited, user_paused_ || (!options_.keep_playing_unfocused && !focused_));
    SleepFromCredit(&sleep_credit_);
    if (closing_image_) {
        if ((closing_deadline_ != 0 &&
             static_cast<int32_t>(Milliseconds() - closing_deadline_) >= 0) ||
            closing_deadline_ == 0 || !movie_ || skip_request_ == 2) {
            window_closing_ = true;
            return false;  // the window goes; the exit path follows
        }
    }
    return true;
}

void Player::PlaybackStep() {
    stepped_ = true;
    ++steps_;
    const uint8_t* pixels = nullptr;
    int32_t pitch = 0;
    auto inspect = [&](const DisplayBuffer* locked) {
        GetMovieInfo(movie_, &info_);  // the frame just shown
        if (locked) {
            pixels = locked->pointer;
            pitch = locked->pitch;
        }
    };
    // Every SDL style puts the pixels on the screen at the blit.
    const StepOutcome outcome =
        RunPlaybackStep(movie_, display_, &copy_flags_, &loop_count_, inspect, true);
    // The statistics line changes even when the picture does not.
    if (statistics_ && outcome.blitted == 0) BlitDisplayBuffer(display_, nullptr, 0);
    if (outcome.finished) finished_ = true;
    if (hooks_ && hooks_->after_step) {
        PlayerProbe probe;
        probe.pixels = pixels;
        probe.pitch = pitch;
        SendProbe(outcome, &probe);
    }
    if (statistics_) DrawStatistics();
    if (!closing_image_ && (steps_ % 8) == 0) UpdateTitle();
    if (user_paused_) PauseMovie(movie_, 1);
}

void Player::SendProbe(const StepOutcome& outcome, PlayerProbe* probe) {
    probe->step = steps_;
    probe->frame = info_.current_frame;
    probe->frames = info_.frames;
    probe->closing_image = closing_image_;
    probe->user_paused = user_paused_;
    probe->blitted = outcome.blitted;
    probe->volume = VolumeOfLevel(volume_level_, options_.use_wave_out);
    probe->window_width = client_width_;
    probe->window_height = client_height_;
    if (window_) {
        probe->window_flags = SDL_GetWindowFlags(window_);
        probe->title = SDL_GetWindowTitle(window_);
        probe->window = window_;
    }
    if (display_) {
        probe->width = display_->width;
        probe->height = display_->height;
        probe->surface_format = display_->surface_type & kSurfaceTypeFormatMask;
        probe->scaled_width = display_->scaled_width;
        probe->scaled_height = display_->scaled_height;
        probe->offset_x = display_->destination_client_x;
        probe->offset_y = display_->destination_client_y;
    }
    hooks_->after_step(*probe);
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

void Player::HandleKey(SDL_Keycode key) {
    const int32_t disabled = options_.disabled_controls;
    switch (key) {
        case SDLK_SPACE:
            if (disabled & kDisablePause) break;
            user_paused_ = !user_paused_;
            if (movie_) PauseMovie(movie_, user_paused_ ? 1 : 0);
            break;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            if (disabled & kDisablePause) break;
            if (movie_) PauseMovie(movie_, 0);  // one step, then paused again
            break;
        case SDLK_PERIOD:
        case SDLK_KP_PERIOD:
            if ((disabled & kDisableSkip) || closing_image_) break;
            finished_ = true;
            break;
        case SDLK_ESCAPE:
            if (disabled & kDisableQuit) break;
            EndLikeEscape();
            break;
        // Beyond the classic keys: seeking, full screen and volume.
        case SDLK_LEFT:
            if (!(disabled & kDisableSkip) && !closing_image_) Seek(-1);
            break;
        case SDLK_RIGHT:
            if (!(disabled & kDisableSkip) && !closing_image_) Seek(1);
            break;
        case SDLK_HOME:
            if (!(disabled & kDisableSkip) && !closing_image_) Seek(0);
            break;
        case SDLK_f:
            ToggleFullScreen();
            break;
        case SDLK_UP:
        case SDLK_DOWN:
            StepVolume(key == SDLK_UP ? 1 : -1);
            break;
        default:
            break;
    }
}

void Player::HandleEvent(const SDL_Event& event) {
    const bool ends_saver =
        saver_ && !(saver_argument_.action == SaverAction::kPreview && saver_argument_.mode > 15);
    switch (event.type) {
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
                case SDL_WINDOWEVENT_CLOSE:
                    window_closing_ = true;
                    quit_ = true;
                    break;
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    if (!options_.keep_playing_unfocused && movie_ && !user_paused_) {
                        PauseMovie(movie_, 0);
                    }
                    focused_ = true;
                    break;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    if (ends_saver) {
                        EndLikeEscape();
                        break;
                    }
                    if (!options_.keep_playing_unfocused && movie_) PauseMovie(movie_, 1);
                    focused_ = false;
                    break;
                case SDL_WINDOWEVENT_EXPOSED:
                    Paint();
                    break;
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    FitToWindow(event.window.data1, event.window.data2);
                    break;
                case SDL_WINDOWEVENT_MOVED:
                    if (display_) SetDisplayBufferOffset(display_, movie_x_, movie_y_);
                    break;
                default:
                    break;
            }
            break;
        case SDL_KEYDOWN:
            if (event.key.repeat == 0 || event.key.keysym.sym != SDLK_ESCAPE) {
                if (ends_saver) {
                    EndLikeEscape();
                    break;
                }
                HandleKey(event.key.keysym.sym);
                TouchPause(movie_);
            }
            break;
        case SDL_MOUSEBUTTONDOWN:
            if (ends_saver) {
                EndLikeEscape();
                break;
            }
            TouchPause(movie_);
            break;
        case SDL_MOUSEBUTTONUP:
            if (event.button.button == SDL_BUTTON_LEFT && closing_image_ && !saver_) {
                OpenInBrowser(kMakerSite);
            }
            break;
        case SDL_MOUSEMOTION:
            if (ends_saver && mouse_watch_.Moved(event.motion.x, event.motion.y)) EndLikeEscape();
            break;
        case SDL_DROPFILE:
            if (event.drop.file) {
                const std::string name = event.drop.file;
                SDL_free(event.drop.file);
                PlayDropped(name);
            }
            break;
        case SDL_APP_WILLENTERBACKGROUND:
            if (ends_saver) EndLikeEscape();
            break;
        default:
            break;
    }
}

void Player::FillWindowBlack() {
    if (!window_) return;
    if (SDL_Renderer* renderer = SDL_GetRenderer(window_)) {
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
        SDL_RenderClear(renderer);
        return;
    }
    if (SDL_Surface* surface = SDL_GetWindowSurface(window_)) {
        SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
        SDL_UpdateWindowSurface(window_);
    }
}

void Player::Paint() {
    if (stepped_ || options_.black_background || statistics_ || IsInterlaced(movie_scaling_mode_)) {
        FillWindowBlack();
    }
    copy_flags_ |= kCopyAll;
    if (display_) BlitDisplayBuffer(display_, nullptr, 0);
    if (statistics_) DrawStatistics();
}

void Player::DrawStatistics() {
    RealtimeStats stats{};
    GetRealtimeStats(0, movie_, &stats);
    statistics_line_ = StatisticsLine(stats);
    // Shown with the next picture, drawn over it just before the window is
    // updated.
}

void Player::Present(void* renderer) {
    if (statistics_ && !statistics_line_.empty()) {
        band_.Draw(window_, static_cast<SDL_Renderer*>(renderer), statistics_line_, client_width_,
                   movie_y_ - band_.Height());
    }
}

void PresentHook(DisplayWindow, void* renderer, void* context) {
    static_cast<Player*>(context)->Present(renderer);
}

void Player::UpdateTitle() {
    if (!window_ || foreign_window_) return;
    std::string title = PlayerTitle(info_, closing_image_ || !movie_, user_paused_);
    if (volume_shown_until_ != 0 &&
        static_cast<int32_t>(Milliseconds() - volume_shown_until_) < 0) {
        title += " - Volume " + std::to_string(volume_level_ * 100 / kVolumeSteps) + "%";
    } else {
        volume_shown_until_ = 0;
    }
    SDL_SetWindowTitle(window_, title.c_str());
}

void Player::Seek(int direction) {
    if (!movie_ || info_.rate_num == 0) return;
    // About ten seconds away, on a key frame.
    uint32_t step = static_cast<uint32_t>(10ull * info_.rate_num / std::max(1u, info_.rate_den));
    uint32_t here = info_.current_frame;
    uint32_t target = 1;
    if (direction < 0) target = here > step ? here - step : 1;
    if (direction > 0) target = std::min(info_.frames, here + step);
    SeekMovie(movie_, target, direction);
    GetMovieInfo(movie_, &info_);
    copy_flags_ |= kCopyAll;
    UpdateTitle();
}

int Player::ExitPath() {
    if (timer_raised_) {
        platform::EndTimerResolution1ms();
        timer_raised_ = false;
    }
    std::string report;
    if (options_.show_summary && have_summary_) {
        report = SummaryReport(summary_, DisplayFactsOf(display_));
    }
    Shutdown();
    if (!report.empty()) {
        std::fputs(report.c_str(), stdout);
        std::fflush(stdout);
        SDL_Delay(10);
        // Printed already when no box can be shown.
        if (!boxes_.PrintsOnly()) {
            boxes_.Show(kSummaryTitle, report, SDL_MESSAGEBOX_INFORMATION, nullptr);
        }
    }
    return exit_code_override_;
}

void Player::Shutdown() {
    SetSdlPresentHook(nullptr, nullptr);
    CloseMovie(movie_);
    movie_ = nullptr;
    embedded_.Close();
    CloseDisplayBuffer(display_);
    display_ = nullptr;
    band_.Close();
    if (window_ && !foreign_window_) SDL_DestroyWindow(window_);
    window_ = nullptr;
}

int Player::Run(int argc, char** argv) {
    int code = 0;
    if (!ParseOptions(argc, argv, &code)) return code;
    if (options_.display_depth_code >= 0 || options_.display_depth > 0) {
        SetDisplayModeRequest(static_cast<uint32_t>(options_.screen_width),
                              static_cast<uint32_t>(options_.screen_height),
                              static_cast<uint32_t>(options_.display_depth));
    }
    SetDisplaySystem(GetSdlDisplaySystem());
    // Drawing over the picture makes the window surface styles push the
    // whole window: only the statistics line needs it.
    if (statistics_) SetSdlPresentHook(&PresentHook, this);
    if (!CreateWindow()) return 1;
    SetSoundSystem(options_.use_wave_out ? GetQueuedSoundOpener : GetLoopingSoundOpener, nullptr);
    if (!OpenMovieNamed(movies_.TakeNext(), &code)) {
        Shutdown();
        return code;
    }
    platform::BeginTimerResolution1ms();
    timer_raised_ = true;
    start_delay_time_ = Milliseconds();
    while (LoopPass()) {
    }
    return ExitPath();
}

}  // namespace

int RunPlayer(int argc, char** argv, const PlayerHooks* hooks) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s\n", HelpText().c_str());
        return 0;
    }
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        std::fprintf(stderr, "vemoplay: cannot start SDL: %s\n", SDL_GetError());
        return 1;
    }
    int code;
    {
        Player player(hooks);
        code = player.Run(argc, argv);
    }
    SDL_Quit();
    return code;
}

}  // namespace vemo::player
