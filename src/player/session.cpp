#include "session.h"

#include <utility>

#include "closing_image.h"
#include "report.h"
#include "vemo/platform.h"
#include "vemo/timer.h"

namespace vemo::player {

void PlaybackSession::TakeOptions(const PlayerOptions& options, MovieList movies) {
    options_ = options;
    movies_ = std::move(movies);
    if (saver_) start_delay_ = ApplySaverArgument(saver_argument_, &options_);
    statistics_ = options_.show_statistics;
    if (movies_.size() > 1) {
        list_loop_count_ = options_.loop_count;
        options_.loop_count = 1;
    }
}

void PlaybackSession::RequestDisplayMode() const {
    if (options_.display_depth_code >= 0 || options_.display_depth > 0) {
        SetDisplayModeRequest(static_cast<uint32_t>(options_.screen_width),
                              static_cast<uint32_t>(options_.screen_height),
                              static_cast<uint32_t>(options_.display_depth));
    }
}

bool PlaybackSession::OpenMovieNamed(const std::string& name, int* exit_code) {
    MovieSource source;
    std::string error;
    if (!ResolveMovieName(name, executable_, &source, &error)) {
        ShowError(error);
        *exit_code = 1;
        return false;
    }
    if (source.kind != MovieSourceKind::kExecutable && !PassVersionCheck()) {
        *exit_code = 1;
        return false;
    }
    Movie* movie = OpenMovieSource(source, options_, &embedded_, &error);
    if (!movie) {
        ShowError(error);
        *exit_code = 1;
        return false;
    }
    CloseMovie(movie_);
    movie_ = movie;
    GetMovieInfo(movie_, &info_);
    loop_count_ = options_.loop_count;
    MovieOpened();
    if (!ShowMovie(true)) {
        *exit_code = 1;
        return false;
    }
    return true;
}

bool PlaybackSession::ShowMovie(bool recentre) {
    const DisplayArea area = AreaForMovie();
    ShownMovie shown;
    if (!PrepareDisplay(Window(), options_, info_, area.width, area.height, area.fill,
                        closing_image_, &display_, &shown)) {
        DisplayFailed();
        return false;
    }
    copy_flags_ = shown.copy_flags;
    movie_scaling_mode_ = shown.scaling_mode;
    shown_width_ = shown.width;
    shown_height_ = shown.height;
    if (recentre || shown.reopened) PlaceWindow(shown.width, shown.height);
    return true;
}

void PlaybackSession::BeginLoop() {
    platform::BeginTimerResolution1ms();
    timer_raised_ = true;
    start_delay_time_ = Milliseconds();
}

void PlaybackSession::EndLoopTimer() {
    if (!timer_raised_) return;
    platform::EndTimerResolution1ms();
    timer_raised_ = false;
}

bool PlaybackSession::ClosingImageOver() const {
    return closing_deadline_ == 0 ||
           static_cast<int32_t>(Milliseconds() - closing_deadline_) >= 0 || !movie_ ||
           skip_request_ == 2;
}

bool PlaybackSession::IdlePass() {
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
            if (movie_ && !window_closing_) PlaybackStep();
        }
    }
    PassTick();
    sleep_credit_ +=
        PassSleepCredit(waited, user_paused_ || (!options_.keep_playing_unfocused && !focused_));
    SleepFromCredit(&sleep_credit_);
    if (closing_image_ && !window_closing_ && ClosingImageOver()) {
        window_closing_ = true;
        return RemoveWindow();
    }
    return true;
}

StepOutcome PlaybackSession::RunStep(const std::function<void(const DisplayBuffer*)>& inspect,
                                     bool list_always) {
    stepped_ = true;
    auto shown = [&](const DisplayBuffer* locked) {
        GetMovieInfo(movie_, &info_);  // the frame just shown
        if (inspect) inspect(locked);
    };
    const StepOutcome outcome =
        RunPlaybackStep(movie_, display_, &copy_flags_, &loop_count_, shown, list_always);
    if (outcome.finished) finished_ = true;
    return outcome;
}

void PlaybackSession::MovieFinished() {
    finished_ = false;
    if (skip_request_ == 1) skip_request_ = 0;
    PauseMovie(movie_, 1);
    if (movies_.HasNext() || --list_loop_count_ != 0) {
        if (!movies_.HasNext()) movies_.Restart();
        int code = 0;
        if (!OpenMovieNamed(movies_.TakeNext(), &code)) EndAfterFailedOpen(code);
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

bool PlaybackSession::OpenClosingImage() {
    closing_bytes_ = ClosingImageMovie();
    if (closing_bytes_.empty()) return false;
    Movie* image = OpenMovie(closing_bytes_.data(), kOpenInMemory);
    if (!image) return false;
    CloseMovie(movie_);
    movie_ = image;
    GetMovieInfo(movie_, &info_);
    closing_image_ = true;
    ClosingImageOpened();
    if (!ShowMovie(false)) return false;
    ClosingImageShown();
    user_paused_ = false;
    loop_count_ = -1;  // the one frame stays
    return true;
}

void PlaybackSession::EndLikeEscape() {
    movies_.Clear();
    list_loop_count_ = 1;
    skip_request_ = closing_image_ ? 2 : 1;
    if (!closing_image_ && movie_) {
        GetSummary(movie_, &summary_);
        have_summary_ = true;
    }
    if (movie_) PauseMovie(movie_, 0);
}

bool PlaybackSession::UseControl(Control control) {
    const int32_t disabled = options_.disabled_controls;
    switch (control) {
        case Control::kPause:
            if (disabled & kDisablePause) return false;
            user_paused_ = !user_paused_;
            if (movie_) PauseMovie(movie_, user_paused_ ? 1 : 0);
            return true;
        case Control::kStep:
            if (disabled & kDisablePause) return false;
            if (movie_) PauseMovie(movie_, 0);  // one step, then paused again
            return true;
        case Control::kNext:
            if ((disabled & kDisableSkip) || closing_image_) return false;
            finished_ = true;
            return true;
        case Control::kQuit:
            if (disabled & kDisableQuit) return false;
            EndLikeEscape();
            return true;
    }
    return false;
}

void PlaybackSession::FocusChanged(bool focused) {
    if (!options_.keep_playing_unfocused && movie_ && (!focused || !user_paused_)) {
        PauseMovie(movie_, focused ? 0 : 1);
    }
    focused_ = focused;
}

bool PlaybackSession::PaintsBlack() const {
    return stepped_ || options_.black_background || statistics_ ||
           IsInterlaced(movie_scaling_mode_);
}

std::string PlaybackSession::SummaryText() const {
    if (!options_.show_summary || !have_summary_) return {};
    return SummaryReport(summary_, DisplayFactsOf(display_));
}

void PlaybackSession::CloseMovieAndDisplay() {
    CloseMovie(movie_);
    movie_ = nullptr;
    embedded_.Close();
    CloseDisplayBuffer(display_);
    display_ = nullptr;
}

}  // namespace vemo::player
