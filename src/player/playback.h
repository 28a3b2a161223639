// What every player program does with the movie library, apart from its
// window system: the open with the pending settings, one playback step
// (decode, copy, blit, advance), the window placement arithmetic, the
// saver's changes to the options, and the display facts of the summary.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "options.h"
#include "report.h"
#include "saver.h"
#include "vemo/container.h"
#include "vemo/display_buffer.h"
#include "vemo/movie.h"
#include "vemo/platform.h"

namespace vemo::player {

constexpr uint32_t kClosingImageMs = 2250;
constexpr uint32_t kStartDelayMs = 500;

// The interlaced scaling modes leave blank lines the window paints black.
bool IsInterlaced(uint32_t scaling_mode);

// A movie given by name, opened with the options' open flags and settings: a plain file, or
// a file (or the player itself) read from an offset through `embedded`,
// whose handle stays open until the movie is closed. Null with the text to
// show in *error.
struct EmbeddedFile {
    platform::File file;
    intptr_t handle = -1;
    void Close();
};
Movie* OpenMovieSource(const MovieSource& source, const PlayerOptions& options,
                       EmbeddedFile* embedded, std::string* error);

// Opens the display buffer for the open movie at the output size of the
// options on a screen of screen_width x screen_height (fill: the movie fills
// that size, as a preview fills its parent). keep_if_large keeps *display
// when it holds the movie (the closing image). The previous buffer stays
// open until the new one is, unless only closing it lets the new one open.
// False when no buffer opens (the reason in GetLastDisplayError(); *display
// is then null).
struct ShownMovie {
    uint32_t copy_flags = 0;         // for the copies (kCopyAll set)
    uint32_t scaling_mode = 0;       // the movie's scaling mode as played
    uint32_t width = 0, height = 0;  // the size it is shown at
    bool reopened = false;           // a new buffer was opened
};
bool PrepareDisplay(DisplayWindow window, const PlayerOptions& options, const MovieInfo& info,
                    int32_t screen_width, int32_t screen_height, bool fill, bool keep_if_large,
                    DisplayBuffer** display, ShownMovie* shown);

// The saver's changes to the options once its argument is known: a preview
// into a parent is silent and keeps the display mode; a run stays on top
// with every control disabled. True when the start waits (the preview delay).
bool ApplySaverArgument(const SaverArgument& argument, PlayerOptions* options);
// True when input ends the saver (the run modes and small preview values).
bool InputEndsSaver(const SaverArgument& argument);

// One coordinate of the window position for a window of the given outer
// size: -3000 centres it (x rounded down to a multiple of 4); a window
// larger than the screen starts its client area at the screen edge (frame:
// the frame's width on that side).
int32_t PlaceWindowCoordinate(int32_t wanted, int32_t outer, int32_t screen, int32_t frame,
                              bool horizontal);

// The statistics band: the movie moves down by the band's height, and right
// by half the widening (a multiple of 4) when the band is wider.
struct BandLayout {
    int32_t movie_x = 0, movie_y = 0;
    int32_t client_width = 0, client_height = 0;
};
BandLayout LayOutBand(int32_t shown_width, int32_t shown_height, int32_t sample_width,
                      int32_t band_height);

// Sleeps min(credit, 10) ms when the credit is positive and takes the time
// really slept off it; the credit never falls below -100. `sleep` sleeps
// (tests pass their own).
// The sleep credit one pass of the loop earns: 1 ms when it waited for the
// next frame (or had none to play), 5 more while paused by the user or
// without the focus.
int32_t PassSleepCredit(bool waited, bool idle);
void SleepFromCredit(int32_t* credit,
                     void (*sleep)(uint32_t milliseconds) = platform::SleepMilliseconds);

// A key or a button pauses the movie and restores its pause state (null:
// nothing).
void TouchPause(Movie* movie);

// The loop over one movie: what the step did.
struct StepOutcome {
    bool finished = false;  // the movie is done (decoding failed or its loops are used up)
    bool copied = false;    // the display buffer was locked and written
    int blitted = 0;        // rectangles shown; -1: the whole buffer
};
// One playback step: DecodeFrame, the copy into the locked display buffer
// (copy_flags loses kCopyAll after a copy), the blit of the changed areas,
// and the advance (the loop count counts down on the last frame).
// `inspect` (may be empty) sees the buffer after the copy while it is still
// locked (null when it could not be locked). list_always: the display
// shows nothing by itself, so it gets the changed areas even where its
// surface type asks for no list.
StepOutcome RunPlaybackStep(Movie* movie, DisplayBuffer* display, uint32_t* copy_flags,
                            int32_t* loop_count,
                            const std::function<void(const DisplayBuffer*)>& inspect = {},
                            bool list_always = false);

// The version-check prompt before a movie given by name: only beside the
// companion tool, at most once a week. ask shows the question (true: Yes);
// open_page hands the version page to the browser. False when the program
// ends now (with exit code 1).
bool RunVersionCheck(const std::string& executable, const std::function<bool()>& ask,
                     const std::function<void(const std::string&)>& open_page);

// The window title: the player's name, and while a movie plays its position
// and length ("m:ss / m:ss"), and, when paused, the frame on the screen.
std::string PlayerTitle(const MovieInfo& info, bool closing_image, bool paused);

// The display part of the summary report.
DisplayFacts DisplayFactsOf(const DisplayBuffer* display);

}  // namespace vemo::player
