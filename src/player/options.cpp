#include "options.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "vemo/platform.h"

namespace vemo::player {

const char kHelpTitle[] = "Vemo Video Player Help";
const char kErrorTitle[] = "Vemo Error";
const char kErrorOpeningExe[] = "Error opening EXE file.";
const char kProfileSection[] = "Tarvo Video Tools";
const char kQuickPlayKey[] = "VemoQuickPlay";
const char kDefaultMovieExtension[] = ".vem";

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
constexpr size_t kMaxResourceLength = 511;
constexpr size_t kMaxQuickPlayLength = 256;
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

bool AtOrBelowSpace(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
bool BelowZero(char c) {
    return static_cast<unsigned char>(c) < '0';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool SameLetter(char a, char b) {
    return Lower(a) == Lower(b);
}

// A decimal number as mantissa / scale. Fraction digits that no longer fit
// (beyond a scale of 10^9) are dropped; a whole part beyond 10^10 saturates.
// Both products of two such numbers stay below 2^64.
struct Decimal {
    uint64_t mantissa = 0;
    uint64_t scale = 1;
};
constexpr uint64_t kMantissaCap = 10000000000ull;
constexpr uint64_t kScaleCap = 1000000000ull;

size_t ParseDecimal(const char* text, size_t position, size_t length, Decimal* out) {
    Decimal d;
    size_t i = position;
    for (; i < length && IsDigit(text[i]); ++i)
        d.mantissa = std::min(d.mantissa * 10 + static_cast<uint64_t>(text[i] - '0'), kMantissaCap);
    if (i < length && text[i] == '.') {
        for (++i; i < length && IsDigit(text[i]); ++i) {
            if (d.mantissa <= kMantissaCap / 10 - 1 && d.scale <= kScaleCap / 10) {
                d.mantissa = d.mantissa * 10 + static_cast<uint64_t>(text[i] - '0');
                d.scale *= 10;
            }
        }
    }
    *out = d;
    return i;
}

uint64_t Gcd(uint64_t a, uint64_t b) {
    while (b != 0) {
        uint64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// Reduces n/d and brings both into the positive 32-bit range.
void ReduceFraction(uint64_t* n, uint64_t* d) {
    uint64_t g = Gcd(*n, *d);
    if (g > 1) {
        *n /= g;
        *d /= g;
    }
    const uint64_t max = static_cast<uint64_t>(kInt32Max);
    bool approximated = false;
    while (*n > max || *d > max) {
        approximated = true;
        if (*n > max && *d < 2) {
            *n = max;
            break;
        }
        if (*d > max && *n < 2) {
            *d = max;
            break;
        }
        *n >>= 1;
        *d >>= 1;
    }
    if (approximated) {
        g = Gcd(*n, *d);
        if (g > 1) {
            *n /= g;
            *d /= g;
        }
    }
}

const DisplayMode kDisplayModes[14] = {
    {0, 0},     {320, 200}, {320, 240}, {320, 400}, {400, 300},  {480, 360},  {512, 384},
    {640, 400}, {640, 480}, {800, 600}, {960, 720}, {1024, 768}, {1152, 864}, {1280, 1024},
};
const int32_t kDisplayDepths[7] = {16, 24, 32, 8, 1, 2, 3};

int32_t ClampToInt32(int64_t v) {
    if (v > kInt32Max) return static_cast<int32_t>(kInt32Max);
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace

DisplayMode DisplayModeForNumber(int32_t number) {
    if (number < 1 || number > 13) return {0, 0};
    return kDisplayModes[number];
}

int32_t DisplayDepthForCode(int32_t code) {
    if (code < 0 || code > 6) return 0;
    return kDisplayDepths[code];
}

// ---------------------------------------------------------------- help text

// The sound back ends and blitting styles the help names: those of the
// system the player was built for.
#ifdef _WIN32
const char kQueuedSoundLine[] = "Use waveOut instead of DirectSound for audio output.";
const char* const kBlitLines[] = {
    "Blitting style: 0=Automatic, 1=DirectDraw primary display (best quality,",
    "very fast), 2=DIBSection (best quality, most compatible), 3=YV12 overlay,",
    "4=YUY2 overlay, 5=UYVY overlay, 6=YV12 off-screen, 7=YUY2 off-screen,",
    "8=UYVY off-screen, 9=DirectDraw RGB video memory off-screen,",
    "10=DirectDraw RGB system memory off-screen.",
};
#else
const char kQueuedSoundLine[] = "Use SDL queued sound instead of the SDL looping buffer.";
const char* const kBlitLines[] = {
    "Blitting style: 0=Automatic, 1=SDL window surface (fastest), 2=SDL software",
    "surface, scaled (most compatible), 3=YV12 texture, 4=YUY2 texture, 5=UYVY",
    "texture, 6=YV12 texture through a render target, 7=YUY2 texture through a",
    "render target, 8=UYVY texture through a render target, 9=SDL RGB texture",
    "on the accelerated renderer, 10=SDL RGB texture on the software renderer.",
};
#endif

const std::string& HelpText() {
    static const std::string text = [] {
        struct Line {
            const char* form;  // null: a continuation line
            const char* words;
        };
        static const Line kLines[] = {
            {"/P", "Preload the entire Vemo video into memory."},
            {"/L##", "Loop the animation (just/L for infinite)."},
            {"/F#.#", "Use this frame rate (just /F for fast)."},
            {"/T##", "Play the specified sound track."},
            {"/Z", kQueuedSoundLine},
            {"/S", "Show the playback summary when finished."},
            {"/X##", "Specifies the X coordinate of the playback."},
            {"/Y##", "Specifies the Y coordinate of the playback."},
            {"/W#.#", "Stretch to this width in pixels (can be slow). Use negative numbers for"},
            {nullptr, "scaling (i.e. for 2x, use '/w-2').  For full screen, use -1 ('/w-1')."},
            {"/H#.#", "Stretch to this height in pixels (can be slow)."},
            {"/R", "Fill the screen with a black background."},
            {"/C", "Hide the cursor when in the Vemo window."},
            {"/M##", "Simulate this read speed (in bytes/second)."},
            {"/E##", "Specified the amount of memory for read buffering."},
            {"/G", "Don't load the read buffer when opening the Vemo (faster opening)."},
            {"/K", "Do not use multi-threaded device reading."},
            {"/U##", "Disable controls: 1=pause, 2=skip, 4=quit."},
            {"/N", "Never skip frames when falling behind."},
            {"/Q", "Show run-time playback statistics."},
            {"/J", "Don't pause the video when the focus is lost."},
            {"/I#", "Window style: 0=normal, 1=no caption, 2=nothing.  Add 100 for always-on-top."},
            {"/A##",
             "Display options: 1=2x height doubled, 2=2x height interlaced, 3=2x width "
             "doubled,"},
            {nullptr, "4=2x width and height doubled, 5=2x width and height interlaced,"},
            {nullptr,
             "6=1x height interlaced, 7=force none. Add 100 for grayscale, 1000 to show "
             "alpha."},
            {"/D##", "Display resolution: 1=320x200, 2=320x240, 3=320x400, 4=400x300, 5=480x360,"},
            {nullptr, "6=512x384, 7=640x400, 8=640x480, 9=800x600, 10=960x720, 11=1024x768,"},
            {nullptr, "12=1152x864, 13=1280x1024. To set the color depth, add: 0 for 16-bit,"},
            {nullptr, "100 for 24-bit, 200 for 32-bit, 300 for 8-bit, 400 for at least"},
            {nullptr, "high-color (16, 32, then 24), 500 to try true-color (32, 24, then 16),"},
            {nullptr, "and 600 for true-color only (32, then 24)."},
            {"/B##", kBlitLines[0]},
            {nullptr, kBlitLines[1]},
            {nullptr, kBlitLines[2]},
            {nullptr, kBlitLines[3]},
            {nullptr, kBlitLines[4]},
        };
        constexpr size_t kFormWidth = 6;  // the longest form, "/W#.#", and one space
        std::string out = "VemoPlay 1.8c - the Vemo Video Player\n";
        out += "  SYNTAX: VemoPlay <Vemo1 Vemo2 ...> [/Switches]:";
        for (const Line& line : kLines) {
            out += '\n';
            if (line.form) {
                std::string form = line.form;
                form.resize(kFormWidth, ' ');
                out += "    " + form + "\t- " + line.words;
            } else {
                out += std::string(4 + kFormWidth, ' ') + "\t    " + line.words;
            }
        }
        return out;
    }();
    return text;
}

// ---------------------------------------------------------------- option text

OptionText::OptionText(std::string_view text) {
    length_ = std::min(text.size(), kMaxLength);
    if (length_ != 0) std::memcpy(buffer_.data(), text.data(), length_);
    buffer_[length_] = '\0';
}

bool OptionText::Append(std::string_view text) {
    if (text.empty()) return true;
    if (text.size() > kMaxLength - length_) return false;
    std::memcpy(buffer_.data() + length_, text.data(), text.size());
    length_ += text.size();
    buffer_[length_] = '\0';
    return true;
}

void OptionText::Erase(size_t position, size_t count) {
    if (position >= length_) return;
    count = std::min(count, length_ - position);
    std::memmove(buffer_.data() + position, buffer_.data() + position + count,
                 length_ - position - count);
    length_ -= count;
    buffer_[length_] = '\0';
}

void OptionText::Truncate(size_t length) {
    if (length >= length_) return;
    length_ = length;
    buffer_[length_] = '\0';
}

size_t OptionText::FindSwitch(char letter, size_t from) const {
    for (size_t i = from; i + 1 < length_; ++i)
        if (buffer_[i] == '/' && SameLetter(buffer_[i + 1], letter)) return i;
    return kNone;
}

bool OptionText::HasSlash() const {
    return view().find('/') != std::string_view::npos;
}

void OptionText::ApplyCancellations() {
    size_t p = 0;
    while (true) {
        size_t found = view().find("/-", p);
        if (found == std::string_view::npos) return;
        p = found;
        if (p + 2 >= length_) {
            Truncate(p);
            return;
        }
        const char letter = buffer_[p + 2];
        // Every earlier "/X" goes, with its value: to the next "/" or
        // character at or below space, or to the closing quote when the value
        // starts with one. Nothing at or behind the cancellation is touched.
        size_t i = 0;
        while (i + 1 < p) {
            if (buffer_[i] != '/' || !SameLetter(buffer_[i + 1], letter)) {
                ++i;
                continue;
            }
            size_t end = i + 2;
            if (end < p && buffer_[end] == '"') {
                ++end;
                while (end < p && buffer_[end] != '"') ++end;
                if (end < p) ++end;
            } else {
                while (end < p && buffer_[end] != '/' && !AtOrBelowSpace(buffer_[end])) ++end;
            }
            Erase(i, end - i);
            p -= end - i;
        }
        Erase(p, 3);
    }
}

bool OptionText::TakeFlag(char letter) {
    for (size_t i = FindSwitch(letter, 0); i != kNone; i = FindSwitch(letter, i + 1)) {
        if (i + 2 == length_ || BelowZero(buffer_[i + 2])) {
            Erase(i, 2);
            return true;
        }
    }
    return false;
}

bool OptionText::TakeNumber(char letter, int32_t* value) {
    for (size_t i = FindSwitch(letter, 0); i != kNone; i = FindSwitch(letter, i + 1)) {
        size_t j = i + 2;
        bool negative = false;
        if (j < length_ && buffer_[j] == '-') {
            negative = true;
            ++j;
        }
        if (j >= length_ || !IsDigit(buffer_[j])) continue;
        int64_t v = 0;
        for (; j < length_ && IsDigit(buffer_[j]); ++j)
            if (v <= kInt32Max + 1) v = v * 10 + (buffer_[j] - '0');
        *value = ClampToInt32(negative ? -v : v);
        Erase(i, j - i);
        return true;
    }
    return false;
}

bool OptionText::TakeRational(char letter, int32_t* numerator, int32_t* denominator) {
    for (size_t i = FindSwitch(letter, 0); i != kNone; i = FindSwitch(letter, i + 1)) {
        size_t j = i + 2;
        bool negative = false;
        if (j < length_ && buffer_[j] == '-') {
            negative = true;
            ++j;
        }
        if (j >= length_ || !IsDigit(buffer_[j])) continue;
        Decimal a, b{1, 1};  // no divisor: 1
        j = ParseDecimal(buffer_.data(), j, length_, &a);
        if (j + 1 < length_ && buffer_[j] == ';' && IsDigit(buffer_[j + 1]))
            j = ParseDecimal(buffer_.data(), j + 1, length_, &b);
        // (a.m / a.s) / (b.m / b.s)
        uint64_t n = a.mantissa * b.scale;
        uint64_t d = a.scale * b.mantissa;
        ReduceFraction(&n, &d);
        *numerator = negative ? -static_cast<int32_t>(n) : static_cast<int32_t>(n);
        *denominator = static_cast<int32_t>(d);
        Erase(i, j - i);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- movie names

std::vector<std::string> SplitMovieNames(std::string_view text) {
    std::vector<std::string> names;
    size_t pos = 0;
    const size_t length = text.size();
    auto skip_blanks = [&] {
        while (pos < length && AtOrBelowSpace(text[pos])) ++pos;
    };
    skip_blanks();
    while (pos < length) {
        std::string name;
        if (text[pos] == '"') {
            size_t end = text.find('"', pos + 1);
            if (end == std::string_view::npos) end = length;
            name.assign(text.substr(pos + 1, end - pos - 1));
            pos = std::min(end + 1, length);
        } else {
            size_t end = pos;
            while (end < length && !AtOrBelowSpace(text[end])) ++end;
            name.assign(text.substr(pos, end - pos));
            pos = end;
            // "a, b": the comma belongs to the separator, not to the name.
            if (pos < length && !name.empty() && name.back() == ',') name.pop_back();
        }
        skip_blanks();
        if (pos < length && text[pos] == ',') ++pos;
        skip_blanks();
        if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
}

bool NeedsDefaultExtension(std::string_view name) {
    size_t start = name.find_last_of("\\/:");
    std::string_view last = start == std::string_view::npos ? name : name.substr(start + 1);
    return last.find('.') == std::string_view::npos;
}

namespace {

bool ParseOffset(std::string_view digits, uint64_t* offset) {
    if (digits.empty()) return false;
    uint64_t v = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return false;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (std::numeric_limits<uint64_t>::max() - d) / 10) return false;
        v = v * 10 + d;
    }
    *offset = v;
    return true;
}

}  // namespace

bool ResolveMovieName(const std::string& name, const std::string& executable_path,
                      MovieSource* source, std::string* error) {
    MovieSource s;
    std::string_view digits;
    if (!name.empty() && name[0] == ':') {
        s.kind = MovieSourceKind::kExecutable;
        s.path = executable_path;
        digits = std::string_view(name).substr(1);
    } else if (size_t bar = name.find('|'); bar != std::string::npos) {
        // The embedded forms open the file exactly as named.
        s.kind = MovieSourceKind::kFileAtOffset;
        s.path = name.substr(0, bar);
        digits = std::string_view(name).substr(bar + 1);
    } else {
        s.kind = MovieSourceKind::kFile;
        s.path = name;
        if (NeedsDefaultExtension(name)) s.path += kDefaultMovieExtension;
        *source = std::move(s);
        return true;
    }
    if (!ParseOffset(digits, &s.offset)) {
        if (error) *error = "The movie offset in \"" + name + "\" is not a decimal number.";
        return false;
    }
    *source = std::move(s);
    return true;
}

std::string MovieList::TakeNext() {
    if (next_ >= saved_.size()) return {};
    return saved_[next_++];
}

// ---------------------------------------------------------------- switches

namespace {

// The first value error is kept; the parse goes on.
struct SwitchErrors {
    std::string* error;
    void operator()(std::string message) const {
        if (error && error->empty()) *error = std::move(message);
    }
};

// /L, /#, /F, /T, /M and /E: the loop count and the settings of each open.
void ParseOpenSwitches(OptionText* text, PlayerOptions* o, const SwitchErrors& fail) {
    int32_t v = 0;

    if (text->TakeNumber('l', &v)) {
        o->loop_count = v;
    } else if (text->TakeFlag('l')) {
        o->loop_count = 0;
    }

    if (text->TakeNumber('#', &v)) o->parent_window = v;

    int32_t num = 0, den = 0;
    if (text->TakeRational('f', &num, &den)) {
        if (num < 0) {
            fail("The frame rate given with /F cannot be negative.");
        } else {
            o->frame_rate_num = num;
            o->frame_rate_den = den;
            o->open_flags |= kOpenUseFrameRate;
        }
    } else if (text->TakeFlag('f')) {
        o->frame_rate_num = 0;
        o->frame_rate_den = 0;
        o->open_flags |= kOpenUseFrameRate;
    }

    if (text->TakeNumber('t', &v)) {
        o->track_id = v;
        if (v != 0) o->open_flags |= kOpenUseTrackList;
    }

    if (text->TakeNumber('m', &v)) {
        if (v < 0) {
            fail("The read speed given with /M cannot be negative.");
        } else {
            o->read_speed = v;
            if (v != 0) o->open_flags |= kOpenUseReadSpeed;
        }
    }

    if (text->TakeNumber('e', &v)) {
        if (v < 0) {
            fail("The read buffer size given with /E cannot be negative.");
        } else {
            o->read_buffer_size = v;
            o->open_flags |= kOpenUseBufferSize;
        }
    }
}

// /U, /I, the flag switches and /A.
void ParsePlaybackSwitches(OptionText* text, PlayerOptions* o, const SwitchErrors& fail) {
    int32_t v = 0;
    if (text->TakeNumber('u', &v)) o->disabled_controls = v;

    if (text->TakeNumber('i', &v)) {
        o->always_on_top = v / 100;
        o->window_style = v % 100;
    }

    if (text->TakeFlag('z')) o->use_wave_out = true;
    if (text->TakeFlag('s')) o->show_summary = true;
    if (text->TakeFlag('q')) o->show_statistics = true;
    if (text->TakeFlag('j')) o->keep_playing_unfocused = true;
    if (text->TakeFlag('r')) {
        o->black_background = true;
        o->window_style = 2;
    }
    if (text->TakeFlag('c')) o->hide_cursor = true;

    if (text->TakeFlag('n')) o->open_flags |= kOpenNeverSkipBlits;
    if (text->TakeFlag('g')) o->open_flags |= kOpenNoFill;
    if (text->TakeFlag('p')) o->open_flags |= kOpenPreloadMovie;
    if (text->TakeFlag('k')) o->open_flags |= kOpenWithoutThreads;

    if (text->TakeNumber('a', &v)) {
        if (v < 0) {
            fail("The display option given with /A cannot be negative.");
        } else {
            if (v / 1000 == 1) {
                o->open_flags |= kOpenDecodeAlpha;
                o->copy_flags |= (kCopyShowAlpha | kOpenDecodeAlpha);
                v %= 1000;
            }
            if (v / 100 == 1) {
                o->open_flags |= kOpenGrayscaleMovie;
                v %= 100;
            }
            o->open_flags |= static_cast<uint32_t>(std::min(v, 7)) << kOpenScaleShift;
        }
    }
}

// /X, /Y, /W, /H, /D and /B: where and how the movie is shown.
void ParseDisplaySwitches(OptionText* text, bool screen_saver, PlayerOptions* o,
                          const SwitchErrors& fail) {
    int32_t v = 0, num = 0, den = 0;
    if (text->TakeNumber('x', &v)) o->x = v;
    if (text->TakeNumber('y', &v)) o->y = v;

    if (text->TakeRational('w', &num, &den)) {
        if (num != 0 && den == 0) {
            fail("The width given with /W divides by zero.");
        } else {
            o->width_num = num;
            o->width_den = den;
        }
    }
    if (text->TakeRational('h', &num, &den)) {
        if (num != 0 && den == 0) {
            fail("The height given with /H divides by zero.");
        } else {
            o->height_num = num;
            o->height_den = den;
        }
    }

    // /D0 asks for nothing; any other value must name a resolution and a depth.
    if (text->TakeNumber('d', &v) && v != 0) {
        DisplayMode mode = v > 0 ? DisplayModeForNumber(v % 100) : DisplayMode{0, 0};
        int32_t depth = v > 0 ? DisplayDepthForCode(v / 100) : 0;
        if (mode.width == 0 || depth == 0) {
            fail("The display mode /D" + std::to_string(v) +
                 " is not supported: use a resolution of 1 to 13 plus 0 to 600 for the depth.");
        } else {
            o->screen_width = mode.width;
            o->screen_height = mode.height;
            o->display_depth_code = v / 100;
            o->display_depth = depth;
            o->display_flags |= kDisplayOpenChangeMode;
        }
    }

    if (text->TakeNumber('b', &v) && !screen_saver) {
        if (v < 0 || v > 10) {
            fail("The blitting style /B" + std::to_string(v) + " is not supported: use 0 to 10.");
        } else {
            o->blit_style = v;
            o->display_flags |= static_cast<uint32_t>(v);
        }
    }

    if (screen_saver) {
        o->loop_count = 0;
        o->black_background = true;
        o->window_style = 2;
        o->hide_cursor = true;
        o->blit_style = 2;
        o->display_flags = (o->display_flags & ~kDisplayOpenStyleMask) | 2;
    }
}

}  // namespace

void ParseSwitches(OptionText* text, bool screen_saver, PlayerOptions* o, std::string* error) {
    const SwitchErrors fail{error};
    ParseOpenSwitches(text, o, fail);
    ParsePlaybackSwitches(text, o, fail);
    ParseDisplaySwitches(text, screen_saver, o, fail);
}

// ---------------------------------------------------------------- building

OptionInput PlatformOptionInput(std::string command_line, bool screen_saver) {
    OptionInput input;
    input.resource = platform::OptionStringResource();
    input.command_line = std::move(command_line);
    input.screen_saver = screen_saver;
    return input;
}

OptionResult BuildPlayerOptions(const OptionInput& input) {
    OptionResult result;
    result.options.screen_width = input.screen_width;
    result.options.screen_height = input.screen_height;
    auto error = [&](std::string message) {
        result.status = OptionStatus::kError;
        result.message = std::move(message);
        return result;
    };

    std::string_view resource = input.resource;
    resource = resource.substr(0, std::min(resource.find('~'), kMaxResourceLength));
    OptionText text;
    text.Append(resource);  // at most 511 characters: always fits
    if (!input.screen_saver && !text.Append(input.command_line)) {
        return error("The command line is too long: " + std::to_string(input.command_line.size()) +
                     " characters, but only " +
                     std::to_string(OptionText::kMaxLength - text.size()) +
                     " fit in the option text.");
    }

    text.ApplyCancellations();

    if (text.TakeFlag('!')) {
        std::string quick = input.quick_play
                                ? input.quick_play()
                                : platform::ReadProfileString(kProfileSection, kQuickPlayKey, "");
        if (quick.size() > kMaxQuickPlayLength) quick.resize(kMaxQuickPlayLength);
        // Keep the appended options apart from a name at the end of the text.
        if (!quick.empty() && !text.empty() && !AtOrBelowSpace(text.view().back()) &&
            !AtOrBelowSpace(quick.front()))
            quick.insert(quick.begin(), ' ');
        if (!text.Append(quick)) {
            return error("The VemoQuickPlay options (" + std::to_string(quick.size()) +
                         " characters) do not fit in the option text behind the command line.");
        }
    }

    std::string switch_error;
    ParseSwitches(&text, input.screen_saver, &result.options, &switch_error);
    if (!switch_error.empty()) return error(switch_error);

    if (text.HasSlash()) {
        result.status = OptionStatus::kHelp;
        result.message =
            "An unrecognised switch (or a name holding \"/\") is left: " + std::string(text.view());
        return result;
    }
    std::vector<std::string> names = SplitMovieNames(text.view());
    if (names.empty()) {
        result.status = OptionStatus::kHelp;
        result.message = "No movie is named.";
        return result;
    }
    result.movies = MovieList(std::move(names));
    return result;
}

std::string CommandLineTail(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i < line.size() && line[i] == '"') {
        size_t end = line.find('"', i + 1);
        i = end == std::string_view::npos ? line.size() : end + 1;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    }
    return std::string(line.substr(i));
}

std::string JoinArguments(int argc, const char* const* argv) {
    std::string out;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i] ? argv[i] : "";
        out += ' ';
        if (arg.find_first_of(" \t") != std::string_view::npos) {
            out += '"';
            out += arg;
            out += '"';
        } else {
            out += arg;
        }
    }
    return out;
}

// ---------------------------------------------------------------- open settings

OpenSettings OpenSettingsFor(const PlayerOptions& o) {
    OpenSettings s;
    if (o.frame_rate_num != -1 && o.frame_rate_den != -1)
        s.frame_rate = OpenSettings::FrameRate{o.frame_rate_num, o.frame_rate_den};
    if (o.track_id != 0) s.tracks = std::vector<uint32_t>{static_cast<uint32_t>(o.track_id)};
    if (o.read_speed != 0) s.read_speed = o.read_speed;
    if (o.read_buffer_size != -1) s.read_buffer_size = o.read_buffer_size;
    s.decode_threads = 0;  // the next frame is decoded while one is shown, given two cores
    return s;
}

// ---------------------------------------------------------------- output size

namespace {

bool IsFullScreen(int32_t num, int32_t den) {
    return num == -1 && den == 1;
}

int64_t OutputDimension(int32_t num, int32_t den, int64_t movie, int64_t screen) {
    if (num == 0 || den <= 0) return movie;
    if (num > 0) return num / den;
    if (IsFullScreen(num, den)) return screen > 0 ? screen : movie;
    return movie * -static_cast<int64_t>(num) / den;
}

int32_t ClampSize(int64_t v) {
    if (v < 1) return 1;
    return ClampToInt32(v);
}

uint32_t DimensionFlags(int64_t out, int64_t movie, uint32_t up_integer, uint32_t up,
                        uint32_t down_integer, uint32_t down) {
    if (out == movie || movie <= 0) return 0;
    if (out > movie) return out % movie == 0 ? up_integer : up;
    return movie % out == 0 ? down_integer : down;
}

}  // namespace

OutputSize ComputeOutputSize(const PlayerOptions& o, int32_t movie_width, int32_t movie_height,
                             uint32_t movie_scaling_mode, int32_t screen_width,
                             int32_t screen_height) {
    OutputSize r;
    r.movie_width = movie_width;
    r.movie_height = movie_height;
    const int64_t mw = movie_width, mh = movie_height;
    int64_t w = OutputDimension(o.width_num, o.width_den, mw, screen_width);
    int64_t h = OutputDimension(o.height_num, o.height_den, mh, screen_height);
    if (IsFullScreen(o.width_num, o.width_den) && IsFullScreen(o.height_num, o.height_den) &&
        mw > 0 && mh > 0 && screen_width > 0 && screen_height > 0) {
        // Fit the screen, keeping the movie's shape.
        h = screen_height;
        w = mw * screen_height / mh;
        if (w > screen_width) {
            w = screen_width;
            h = mh * screen_width / mw;
        }
    }
    r.width = ClampSize(w);
    r.height = ClampSize(h);

    const bool own_mode = movie_scaling_mode != 0 && movie_scaling_mode != 7;
    if (!own_mode && mw > 0 && mh > 0) {
        if (r.width == mw && r.height == 2 * mh) {
            r.scaling_mode = 1;
        } else if (r.width == 2 * mw && r.height == mh) {
            r.scaling_mode = 3;
        } else if (r.width == 2 * mw && r.height == 2 * mh) {
            r.scaling_mode = 4;
        }
        if (r.scaling_mode != 0) {
            // The copy doubles the picture: the display shows it as it is.
            r.movie_width = r.width;
            r.movie_height = r.height;
            r.scaling_flags = 0;
            return r;
        }
    }
    r.scaling_flags =
        DimensionFlags(r.width, mw, kScaleWidthStretchInteger, kScaleWidthStretchAny,
                       kScaleWidthShrinkInteger, kScaleWidthShrinkAny) |
        DimensionFlags(r.height, mh, kScaleHeightStretchInteger, kScaleHeightStretchAny,
                       kScaleHeightShrinkInteger, kScaleHeightShrinkAny);
    return r;
}

}  // namespace vemo::player
