// The player's options: the option text built from the executable's option
// string and the command line, the switches parsed out of it into
// PlayerOptions, the movie names left behind, the settings handed to the
// library before each open, the output size and the help text.
//
// Nothing here shows a window or a message box: results say what happened
// and carry the text; the player shows the boxes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "vemo/flags.h"
#include "vemo/movie.h"

namespace vemo::player {

// ---------------------------------------------------------------- flags
// The options fill the library's flags words (vemo/flags.h): the open flags,
// the copy flags and the display-buffer open flags.

// Disabled-controls bits (/U).
constexpr int32_t kDisablePause = 1;
constexpr int32_t kDisableSkip = 2;
constexpr int32_t kDisableQuit = 4;

// Window position that means "centred".
constexpr int32_t kCentred = -3000;

// ---------------------------------------------------------------- texts
extern const char kHelpTitle[];              // "Vemo Video Player Help"
extern const char kErrorTitle[];             // "Vemo Error"
extern const char kErrorOpeningExe[];        // "Error opening EXE file."
extern const char kProfileSection[];         // "Tarvo Video Tools"
extern const char kQuickPlayKey[];           // "VemoQuickPlay"
extern const char kDefaultMovieExtension[];  // ".vem"

// The help text shown when the option text asks for it (lines separated by
// "\n", no trailing line break).
const std::string& HelpText();

// ---------------------------------------------------------------- options
struct PlayerOptions {
    int32_t loop_count = 1;  // 0 = endlessly
    int32_t parent_window = 0;
    int32_t frame_rate_num = -1;  // -1, -1: not given; 0/0: as fast as possible
    int32_t frame_rate_den = -1;
    int32_t track_id = 0;
    int32_t read_speed = 0;         // simulated bytes per second; 0 = real speed
    int32_t read_buffer_size = -1;  // -1: not given
    int32_t disabled_controls = 0;  // kDisablePause | kDisableSkip | kDisableQuit
    int32_t always_on_top = 0;
    int32_t window_style = 0;  // 0 normal, 1 no caption, 2 nothing
    bool use_wave_out = false;
    bool show_summary = false;
    bool show_statistics = false;
    bool keep_playing_unfocused = false;
    bool black_background = false;
    bool hide_cursor = false;
    int32_t x = kCentred;
    int32_t y = kCentred;
    int32_t width_num = 0;  // output width (see ComputeOutputSize)
    int32_t width_den = 0;
    int32_t height_num = 0;
    int32_t height_den = 0;
    int32_t screen_width = 0;  // the /D resolution, else the current screen size
    int32_t screen_height = 0;
    int32_t display_depth_code = -1;  // /D hundreds: 0-6, -1 = none
    int32_t display_depth = 0;        // 16, 24, 32, 8, or sequence code 1-3; 0 = none
    int32_t blit_style = 0;           // BlitStyle, 0 = automatic
    uint32_t open_flags = 0;
    uint32_t copy_flags = 0;
    uint32_t display_flags = 0;
};

// The /D resolution table (index 1-13; 0 unused) and depth codes (0-6).
struct DisplayMode {
    int32_t width, height;
};
DisplayMode DisplayModeForNumber(int32_t number);  // {0, 0} outside 1-13
int32_t DisplayDepthForCode(int32_t code);         // 0 outside 0-6

// ---------------------------------------------------------------- option text
// The process's option text: one 1024-byte buffer (1023 characters and the
// terminator). Switches are taken out of it as they are parsed.
class OptionText {
  public:
    static constexpr size_t kCapacity = 1024;
    static constexpr size_t kMaxLength = kCapacity - 1;

    OptionText() { buffer_[0] = '\0'; }
    explicit OptionText(std::string_view text);  // cut at kMaxLength (for tests)

    std::string_view view() const { return {buffer_.data(), length_}; }
    const char* c_str() const { return buffer_.data(); }
    size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }

    // Appends the text when it fits; false (and nothing changed) otherwise.
    bool Append(std::string_view text);
    void Erase(size_t position, size_t count);
    void Truncate(size_t length);

    // /-X removes every earlier /X with its value, then itself; a "/-" at
    // the very end cuts the text there.
    void ApplyCancellations();

    // The first "/X" flag switch (followed by a character below '0' or the
    // end) is removed; true when there was one. Letters match in any case.
    bool TakeFlag(char letter);
    // The first "/X" followed by digits or "-" and digits: the value and the
    // switch are removed. The value saturates at the 32-bit limits.
    bool TakeNumber(char letter, int32_t* value);
    // The first "/X" followed by [-]digits[.digits][;digits[.digits]]: the
    // reduced fraction, numerator carrying the sign.
    bool TakeRational(char letter, int32_t* numerator, int32_t* denominator);

    // True when a "/" is left (an unrecognised switch or a name holding one).
    bool HasSlash() const;

  private:
    size_t FindSwitch(char letter, size_t from) const;
    std::array<char, kCapacity> buffer_{};
    size_t length_ = 0;
};

// ---------------------------------------------------------------- movie names
// Splits what is left of the option text into movie names: a name runs to
// the first character at or below space (or, in double quotes, to the closing
// quote); the separator is that run optionally followed by one comma.
std::vector<std::string> SplitMovieNames(std::string_view text);

enum class MovieSourceKind {
    kFile,          // a plain name (".vem" added when it has no extension)
    kFileAtOffset,  // name|offset: a movie embedded in a larger file
    kExecutable,    // :offset: a movie appended to the player itself
};
struct MovieSource {
    MovieSourceKind kind = MovieSourceKind::kFile;
    std::string path;     // the file to open (the executable's path for :offset)
    uint64_t offset = 0;  // where the movie starts in that file
};
// Turns one name into what to open. False with *error set when an offset is
// not a decimal number. executable_path is used for :offset ("" when unknown:
// the player then reports kErrorOpeningExe).
bool ResolveMovieName(const std::string& name, const std::string& executable_path,
                      MovieSource* source, std::string* error);
// True when the last path component of the name has no extension.
bool NeedsDefaultExtension(std::string_view name);

// The names, saved at start so that the whole list can be played again.
class MovieList {
  public:
    MovieList() = default;
    explicit MovieList(std::vector<std::string> names) : saved_(std::move(names)) {}
    size_t size() const { return saved_.size(); }  // names in the saved list
    bool HasNext() const { return next_ < saved_.size(); }
    // The next name of this pass ("" when none is left).
    std::string TakeNext();
    // Starts the saved list over (another pass of the loop count).
    void Restart() { next_ = 0; }
    // Drops the rest of this pass (Escape).
    void Clear() { next_ = saved_.size(); }
    const std::vector<std::string>& names() const { return saved_; }

  private:
    std::vector<std::string> saved_;
    size_t next_ = 0;
};

// ---------------------------------------------------------------- building
struct OptionInput {
    std::string resource;      // the executable's option string (cut at '~' here)
    std::string command_line;  // the part after the program name
    bool screen_saver = false;
    // Reads the "VemoQuickPlay" profile string for /!; null: the platform's.
    std::function<std::string()> quick_play;
    int32_t screen_width = 0;  // the current screen size
    int32_t screen_height = 0;
};
// The resource from the platform and the given command line.
OptionInput PlatformOptionInput(std::string command_line, bool screen_saver);

enum class OptionStatus {
    kOk,
    kHelp,   // show HelpText() titled kHelpTitle, exit code 1
    kError,  // show message titled kErrorTitle, exit code 1
};
struct OptionResult {
    OptionStatus status = OptionStatus::kOk;
    std::string message;  // for kError: what is wrong; for kHelp: why (not shown in the box)
    PlayerOptions options;
    MovieList movies;
};
OptionResult BuildPlayerOptions(const OptionInput& input);

// Parses the switches out of an already built text (after the cancellations
// and /!). What remains in the text is the list of names. Value errors are
// reported in *error (the first one); the parse goes on.
void ParseSwitches(OptionText* text, bool screen_saver, PlayerOptions* options, std::string* error);

// The part of a whole command line after the program name (quoted or not),
// with the whitespace in front of the first argument kept.
std::string CommandLineTail(std::string_view command_line);
// The arguments joined as a command line tail: each behind one space, those
// holding a space or tab in double quotes.
std::string JoinArguments(int argc, const char* const* argv);

// ---------------------------------------------------------------- open settings
// What the player hands the library with every open: the frame-rate override
// (when both parts were given), one track (when its ID is non-zero), the
// simulated read speed (when non-zero) and the read-buffer size (when given).
OpenSettings OpenSettingsFor(const PlayerOptions& options);

// ---------------------------------------------------------------- output size
struct OutputSize {
    int32_t width = 0;  // the size to show the movie at (SetDisplayBufferScale)
    int32_t height = 0;
    uint32_t scaling_flags = 0;  // capability bits to or into the display-buffer flags
    // 0: leave the movie; 1, 3 or 4: give the movie this scaling mode (the
    // copy doubles the picture).
    int32_t scaling_mode = 0;
    int32_t movie_width = 0;  // the movie's played size afterwards: the display buffer's size
    int32_t movie_height = 0;
};
// movie_width/height: the movie's played size; movie_scaling_mode: its
// scaling mode (0-7; 0 and 7 count as none). screen: the size the movie is
// shown on (normally options.screen_width/height).
OutputSize ComputeOutputSize(const PlayerOptions& options, int32_t movie_width,
                             int32_t movie_height, uint32_t movie_scaling_mode,
                             int32_t screen_width, int32_t screen_height);

}  // namespace vemo::player
