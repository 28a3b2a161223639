// The statistics band: one line of text drawn yellow on black above the
// movie, with a monospaced font found at run time.
#pragma once

#include <SDL.h>

#include <string>

namespace vemo::player {

class TextBand {
  public:
    ~TextBand() { Close(); }
    // Loads the font (VEMO_FONT, else a DejaVu monospaced font); without one
    // the band keeps its size and draws nothing.
    void Open();
    void Close();
    // The extent of the first 100 characters of the sample line.
    int SampleWidth() const { return sample_width_; }
    int Height() const { return height_; }
    // Draws the line centred at client_width / 2, top at `top`, opaque over
    // the band's rectangle: through the renderer when there is one, else into
    // the window's surface (the caller updates the window).
    void Draw(SDL_Window* window, SDL_Renderer* renderer, const std::string& line, int client_width,
              int top);

  private:
    void* font_ = nullptr;  // TTF_Font
    bool opened_ = false;
    int sample_width_ = 700;
    int height_ = 14;
};

}  // namespace vemo::player
