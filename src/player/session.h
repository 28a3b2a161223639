// The playback state and steps every player program shares: the movie list
// walk with its loop counts, the change of movie when one ends or is
// skipped, the closing image phase, the summary, the controls, and the pass
// of the loop that runs while no window message waits. The window, the
// message boxes, the window placement and the painting stay with each
// program, which supplies them through the virtual functions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "options.h"
#include "playback.h"
#include "saver.h"
#include "vemo/display_buffer.h"
#include "vemo/movie.h"

namespace vemo::player {

// The controls the keys reach; /U disables pause (and step), skip and quit.
enum class Control { kPause, kStep, kNext, kQuit };

// The screen a movie is sized for; fill: the movie fills it (a preview in
// its parent).
struct DisplayArea {
    int32_t width = 0, height = 0;
    bool fill = false;
};

class PlaybackSession {
  public:
    PlaybackSession(const PlaybackSession&) = delete;
    PlaybackSession& operator=(const PlaybackSession&) = delete;
    virtual ~PlaybackSession() = default;

  protected:
    PlaybackSession() = default;

    // ------------------------------------------------- the program's part
    virtual DisplayWindow Window() const = 0;
    // An error box about a movie.
    virtual void ShowError(const std::string& text) = 0;
    // The version-check prompt before a movie given by name; false when
    // the program ends now.
    virtual bool PassVersionCheck() = 0;
    virtual DisplayArea AreaForMovie() = 0;
    // No display buffer opens: hide the window and show why.
    virtual void DisplayFailed() = 0;
    // Lays the window out around the movie shown at shown_w x shown_h.
    virtual void PlaceWindow(uint32_t shown_w, uint32_t shown_h) = 0;
    // The next movie of the list did not open: the program ends with code.
    virtual void EndAfterFailedOpen(int code) = 0;
    // The closing image is over: the window goes. True when the loop runs
    // on until the window's quit message.
    virtual bool RemoveWindow() = 0;
    // One playback step: RunStep and what the program draws beside it.
    virtual void PlaybackStep() = 0;
    // A movie opened, before it is shown.
    virtual void MovieOpened() {}
    // The closing image replaced the movie; before and after it is shown.
    virtual void ClosingImageOpened() {}
    virtual void ClosingImageShown() {}
    // Every loop pass, after the step and before the sleep.
    virtual void PassTick() {}

    // ------------------------------------------------- the shared steps
    // Takes the parsed options and list: with several movies the loop count
    // counts passes over the list and each movie plays once.
    void TakeOptions(const PlayerOptions& options, MovieList movies);
    // Hands a display mode asked for in the options to the display system.
    void RequestDisplayMode() const;
    // Opens the named movie in place of the current one and shows it. False
    // (the reason shown, *exit_code set) when it cannot be played.
    bool OpenMovieNamed(const std::string& name, int* exit_code);
    // Opens (or keeps) the display buffer for the open movie.
    bool ShowMovie(bool recentre);
    // Raises the timer resolution for the loop and starts the start delay.
    void BeginLoop();
    void EndLoopTimer();
    // One pass of the loop without a window message: the start delay, the
    // wait test, the change of movie, the step, the sleep and the end of
    // the closing image. False when the loop ends now.
    bool IdlePass();
    // DecodeFrame, copy, blit and advance for the open movie; `inspect`
    // (may be empty) sees the locked buffer after the copy.
    StepOutcome RunStep(const std::function<void(const DisplayBuffer*)>& inspect, bool list_always);
    // The movie ended or was skipped: the next name, the next pass of the
    // list, or the closing image (the summary taken first).
    void MovieFinished();
    bool OpenClosingImage();
    // Escape: the list is dropped and playback ends (at once on the closing
    // image); the summary reports the movie stopped.
    void EndLikeEscape();
    // A control key; false when it is disabled or does not apply now.
    bool UseControl(Control control);
    void FocusChanged(bool focused);
    // True when a paint fills the window with black first.
    bool PaintsBlack() const;
    // The summary report for /S ("" when none is shown).
    std::string SummaryText() const;
    void CloseMovieAndDisplay();

    PlayerOptions options_;
    MovieList movies_;
    std::string executable_;
    bool saver_ = false;
    SaverArgument saver_argument_;
    SaverMouseWatch mouse_watch_;

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
    bool quit_ = false;  // the loop ends at the next pass
    int32_t list_loop_count_ = 1;
    int32_t loop_count_ = 1;
    int32_t sleep_credit_ = 0;
    bool start_delay_ = false;
    uint32_t start_delay_time_ = 0;
    bool stepped_ = false;
    bool statistics_ = false;
    uint32_t copy_flags_ = 0;
    uint32_t movie_scaling_mode_ = 0;
    uint32_t shown_width_ = 0, shown_height_ = 0;  // the size the movie is shown at
    int32_t movie_x_ = 0, movie_y_ = 0;            // the movie's offset in the client area
    int32_t client_width_ = 0, client_height_ = 0;
    MovieSummary summary_{};
    bool have_summary_ = false;
    int exit_code_ = 0;

  private:
    bool ClosingImageOver() const;

    std::vector<uint8_t> closing_bytes_;
    bool timer_raised_ = false;
};

}  // namespace vemo::player
