#include "playback.h"

#include <algorithm>
#include <cstdio>

#include "vemo/timer.h"

namespace vemo::player {

bool IsInterlaced(uint32_t scaling_mode) {
    return scaling_mode == 2 || scaling_mode == 5 || scaling_mode == 6;
}

void EmbeddedFile::Close() {
    if (file.valid()) platform::CloseFile(file);
    file = platform::File{};
    handle = -1;
}

Movie* OpenMovieSource(const MovieSource& source, const PlayerOptions& options,
                       EmbeddedFile* embedded, std::string* error) {
    const uint32_t flags = options.open_flags;
    const OpenSettings settings = OpenSettingsFor(options);
    Movie* movie = nullptr;
    if (source.kind == MovieSourceKind::kFile) {
        movie = OpenMovie(source.path.c_str(), flags, settings);
    } else {
        embedded->Close();
        embedded->file = platform::OpenFileForReading(source.path.c_str());
        if (!embedded->file.valid() || !platform::SeekFile(embedded->file, source.offset)) {
            embedded->Close();
            *error = source.kind == MovieSourceKind::kExecutable ? kErrorOpeningExe
                                                                 : vemo::kErrorOpeningFile;
            return nullptr;
        }
        embedded->handle = embedded->file.value;
        movie = OpenMovie(&embedded->handle, flags | kOpenHandle, settings);
    }
    if (!movie) *error = GetLastMovieError();
    return movie;
}

bool PrepareDisplay(DisplayWindow window, const PlayerOptions& options, const MovieInfo& info,
                    int32_t screen_width, int32_t screen_height, bool fill, bool keep_if_large,
                    DisplayBuffer** display, ShownMovie* shown) {
    OutputSize out = ComputeOutputSize(options, static_cast<int32_t>(info.width),
                                       static_cast<int32_t>(info.height), info.scaling_mode,
                                       screen_width, screen_height);
    if (fill) {
        out.width = screen_width;
        out.height = screen_height;
        out.scaling_flags = kScaleCapabilityMask;
    }
    shown->copy_flags = options.copy_flags | kCopyAll;
    shown->scaling_mode = info.scaling_mode;
    if (out.scaling_mode != 0) {
        shown->copy_flags = (shown->copy_flags & ~kCopyScaleMask) |
                            (static_cast<uint32_t>(out.scaling_mode) << kCopyScaleShift);
        shown->scaling_mode = static_cast<uint32_t>(out.scaling_mode);
    }
    const uint32_t width =
        static_cast<uint32_t>(out.movie_width > 0 ? out.movie_width : info.width);
    const uint32_t height =
        static_cast<uint32_t>(out.movie_height > 0 ? out.movie_height : info.height);
    DisplayBuffer* current = *display;
    shown->reopened =
        !(keep_if_large && current && current->width >= width && current->height >= height);
    if (shown->reopened) {
        const uint32_t flags = options.display_flags | out.scaling_flags;
        DisplayBuffer* fresh = OpenDisplayBuffer(window, width, height, flags);
        if (!fresh && current) {
            CloseDisplayBuffer(current);
            *display = current = nullptr;
            fresh = OpenDisplayBuffer(window, width, height, flags);
        }
        if (!fresh) return false;
        CloseDisplayBuffer(current);
        *display = current = fresh;
        if (out.width > 0 && out.height > 0) {
            SetDisplayBufferScale(current, static_cast<uint32_t>(out.width),
                                  static_cast<uint32_t>(out.height));
        }
    }
    shown->width = current->scaled_width ? current->scaled_width : current->width;
    shown->height = current->scaled_height ? current->scaled_height : current->height;
    return true;
}

bool ApplySaverArgument(const SaverArgument& argument, PlayerOptions* options) {
    if (argument.action == SaverAction::kPreview && argument.mode > 3) {
        options->track_id = -1;  // the preview is silent
        options->parent_window = static_cast<int32_t>(argument.parent);
        options->display_flags &= ~kDisplayOpenChangeMode;
        return true;
    }
    options->always_on_top = 1;
    options->disabled_controls = kDisablePause | kDisableSkip | kDisableQuit | 8;
    return false;
}

bool InputEndsSaver(const SaverArgument& argument) {
    return !(argument.action == SaverAction::kPreview && argument.mode > 15);
}

int32_t PlaceWindowCoordinate(int32_t wanted, int32_t outer, int32_t screen, int32_t frame,
                              bool horizontal) {
    if (wanted != kCentred) return wanted;
    if (outer > screen) return -frame;
    return horizontal ? ((screen - outer) / 2) & ~3 : (screen - outer) / 2;
}

BandLayout LayOutBand(int32_t shown_width, int32_t shown_height, int32_t sample_width,
                      int32_t band_height) {
    BandLayout band;
    band.client_width = shown_width;
    band.client_height = shown_height + band_height;
    band.movie_y = band_height;
    int32_t band_width = sample_width + 8;
    if (band_width > shown_width) {
        band.movie_x = ((band_width - shown_width) / 2) & ~3;
        band.client_width = band_width;
    }
    return band;
}

int32_t PassSleepCredit(bool waited, bool idle) {
    return (waited ? 1 : 0) + (idle ? 5 : 0);
}

void SleepFromCredit(int32_t* credit, void (*sleep)(uint32_t milliseconds)) {
    if (*credit <= 0) return;
    uint32_t before = Milliseconds();
    sleep(static_cast<uint32_t>(std::min(*credit, 10)));
    *credit -= static_cast<int32_t>(Milliseconds() - before);
    *credit = std::max(*credit, -100);
}

void TouchPause(Movie* movie) {
    if (!movie) return;
    MovieInfo now{};
    GetMovieInfo(movie, &now);
    PauseMovie(movie, 1);
    PauseMovie(movie, now.paused ? 1 : 0);
}

StepOutcome RunPlaybackStep(Movie* movie, DisplayBuffer* display, uint32_t* copy_flags,
                            int32_t* loop_count,
                            const std::function<void(const DisplayBuffer*)>& inspect,
                            bool list_always) {
    StepOutcome outcome;
    if (DecodeFrame(movie) != 0) outcome.finished = true;
    MovieInfo info{};
    GetMovieInfo(movie, &info);
    bool full = false, late = false;
    if (LockDisplayBuffer(display)) {
        // The source rectangle is in played pixels (after the scaling mode).
        const uint32_t flags = display->surface_type | *copy_flags;
        late = CopyFrameToSurface(movie, display->pointer, display->pitch, display->height, 0, 0, 0,
                                  0, info.width, info.height, flags) != 0;
        full = (flags & kCopyAll) != 0;
        outcome.copied = true;
        if (inspect) inspect(display);
        UnlockDisplayBuffer(display);
    } else if (inspect) {
        inspect(nullptr);
    }
    const uint32_t rect_flags = display->surface_type & ~(list_always ? kRectsNotWanted : 0u);
    int count = GetChangedRects(rect_flags, movie);
    const ChangedRect* changed = MovieChangedRects(movie);
    DisplayRect rects[kMaxBlitRects];
    for (int i = 0; i < count && i < kMaxBlitRects; ++i) {
        rects[i] = {changed[i].x, changed[i].y, changed[i].width, changed[i].height};
    }
    // A late frame without rectangles was skipped: a full copy it owed is
    // still owed. A full copy shows everything; otherwise only what changed
    // (nothing when nothing did).
    const bool skipped = late && count == 0;
    if (outcome.copied && !skipped) *copy_flags &= ~kCopyAll;
    const bool whole = full && !skipped;
    outcome.blitted = whole ? -1 : std::min(count, kMaxBlitRects);
    BlitDisplayBuffer(display, whole ? nullptr : rects, whole ? 0 : outcome.blitted);

    if (info.current_frame >= info.frames && (*loop_count)-- == 1) {
        outcome.finished = true;
    } else {
        NextFrame(movie);
    }
    return outcome;
}

bool RunVersionCheck(const std::string& executable, const std::function<bool()>& ask,
                     const std::function<void(const std::string&)>& open_page) {
    size_t slash = executable.find_last_of("/\\");
    if (slash == std::string::npos) return true;
    std::string companion = executable.substr(0, slash + 1) + kCompanionToolName;
    if (!platform::FileExists(companion.c_str())) return true;
    platform::LocalTime now = platform::GetLocalTime();
    CalendarDate today{now.year, now.month, now.day};
    std::string last =
        platform::ReadProfileString(kProfileSection, kLastVersionCheckKey, kBuildDate);
    if (!VersionCheckDue(today, last)) return true;
    // Declining postpones the prompt by a week.
    platform::StoreProfileString(kProfileSection, kLastVersionCheckKey, DateText(today).c_str());
    if (!ask()) return true;
    open_page(VersionCheckAddress());
    platform::SleepMilliseconds(250);
    platform::StoreProfileString(kProfileSection, kLastVersionCheckKey, DateText(today).c_str());
    return false;
}

std::string PlayerTitle(const MovieInfo& info, bool closing_image, bool paused) {
    std::string title = kPlayerTitle;
    if (closing_image || info.rate_num == 0) return title;
    auto clock = [&](uint64_t frame) {
        uint64_t seconds = frame * info.rate_den / info.rate_num;
        char text[32];
        std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
        return std::string(text);
    };
    uint64_t at = info.current_frame > 0 ? info.current_frame - 1 : 0;
    title += " - " + clock(at) + " / " + clock(info.frames);
    if (paused) title += " (paused at frame " + std::to_string(info.last_decoded_frame) + ")";
    return title;
}

DisplayFacts DisplayFactsOf(const DisplayBuffer* display) {
    DisplayFacts facts;
    if (display) {
        facts.blit_style_name = GetBlitStyleName(display);
        facts.width = static_cast<int32_t>(display->screen_width);
        facts.height = static_cast<int32_t>(display->screen_height);
        facts.bits = static_cast<int32_t>(display->screen_bits_per_pixel);
    }
    return facts;
}

}  // namespace vemo::player
