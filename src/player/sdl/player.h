// The player program on SDL2: one window, the movie list, the message loop
// that paces playback, keys, focus, the closing image, the summary and the
// statistics line, and the screen-saver mode.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vemo::player {

// What a test can see after each playback step, and how it steers the run.
struct PlayerProbe {
    uint32_t step = 0;           // playback steps so far (all movies)
    uint32_t frame = 0;          // the frame just shown (1-based)
    uint32_t frames = 0;         // frames of the open movie
    bool closing_image = false;  // the closing image is showing
    bool user_paused = false;
    const uint8_t* pixels = nullptr;  // the display buffer's pixels as copied (may be null)
    int32_t pitch = 0;
    uint32_t width = 0, height = 0;
    uint32_t surface_format = 0;
    int blitted = 0;                               // rectangles shown; -1: the whole buffer
    uint32_t scaled_width = 0, scaled_height = 0;  // the size the buffer is shown at
    int32_t offset_x = 0, offset_y = 0;            // where it is shown in the window
    int32_t window_width = 0, window_height = 0;   // the window's client area
    uint32_t window_flags = 0;                     // SDL_WINDOW_*
    uint32_t volume = 0;                           // the level handed to the sound back end
    std::string title;                             // the window's title
    void* window = nullptr;                        // the SDL_Window*
};

struct PlayerHooks {
    // Called after every playback step (pixels: the display buffer's memory
    // as the step wrote it, valid during the call).
    std::function<void(const PlayerProbe&)> after_step;
    // Receives every message box instead of showing it (title, text).
    std::function<void(const std::string&, const std::string&)> message_box;
};

// Runs the player with the process's arguments (argv[0] the program) and
// returns the exit code. hooks may be null.
int RunPlayer(int argc, char** argv, const PlayerHooks* hooks = nullptr);

}  // namespace vemo::player
