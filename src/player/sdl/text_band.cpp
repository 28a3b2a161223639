#include "text_band.h"

#include <SDL_ttf.h>

#include <cstdlib>
#include <string>

#include "report.h"
#include "vemo/platform.h"

namespace vemo::player {

namespace {

const char* const kFontCandidates[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/TTF/DejaVuSansMono.ttf",
};

}  // namespace

void TextBand::Open() {
    if (opened_) return;
    opened_ = true;
    if (!TTF_WasInit() && TTF_Init() != 0) return;
    const char* chosen = std::getenv("VEMO_FONT");
    if (!chosen || !platform::FileExists(chosen)) {
        chosen = nullptr;
        for (const char* candidate : kFontCandidates) {
            if (platform::FileExists(candidate)) {
                chosen = candidate;
                break;
            }
        }
    }
    if (!chosen) return;
    TTF_Font* font = TTF_OpenFont(chosen, 12);
    if (!font) return;
    font_ = font;
    std::string sample = std::string(kStatisticsSample).substr(0, 100);
    int w = 0, h = 0;
    if (TTF_SizeUTF8(font, sample.c_str(), &w, &h) == 0) {
        sample_width_ = w;
        height_ = h;
    }
}

void TextBand::Close() {
    if (font_) {
        TTF_CloseFont(static_cast<TTF_Font*>(font_));
        font_ = nullptr;
    }
    if (opened_ && TTF_WasInit()) TTF_Quit();
    opened_ = false;
}

void TextBand::Draw(SDL_Window* window, SDL_Renderer* renderer, const std::string& line,
                    int client_width, int top) {
    if (!font_ || !window || line.empty()) return;
    const SDL_Color yellow = {255, 255, 0, 255}, black = {0, 0, 0, 255};
    SDL_Surface* text =
        TTF_RenderUTF8_Shaded(static_cast<TTF_Font*>(font_), line.c_str(), yellow, black);
    if (!text) return;
    SDL_Rect band = {0, top, client_width, height_};
    SDL_Rect where = {client_width / 2 - text->w / 2, top, text->w, text->h};
    if (renderer) {
        if (SDL_Texture* texture = SDL_CreateTextureFromSurface(renderer, text)) {
            SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
            SDL_RenderFillRect(renderer, &band);
            SDL_RenderCopy(renderer, texture, nullptr, &where);
            SDL_DestroyTexture(texture);
        }
    } else if (SDL_Surface* surface = SDL_GetWindowSurface(window)) {
        SDL_FillRect(surface, &band, SDL_MapRGB(surface->format, 0, 0, 0));
        SDL_BlitSurface(text, nullptr, surface, &where);
    }
    SDL_FreeSurface(text);
}

}  // namespace vemo::player
