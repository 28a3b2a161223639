// Screen-saver mode and the version-check prompt: the decisions, kept apart
// from the window so they can be tested on their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vemo::player {

extern const char kSaverNoSettingsText[];  // "There are no settings for this screensaver."
extern const char kPlayerTitle[];          // "Vemo Video Player"
extern const char kVersionCheckTitle[];    // "New version check..."
extern const char kVersionCheckText[];
extern const char kBuildDate[];            // "2005-05-21"
extern const char kLastVersionCheckKey[];  // "LastVersionCheckDate"
extern const char kCompanionToolName[];    // "tarvovideo.exe"
extern const char kMakerSite[];            // the maker's web site
std::string VersionCheckAddress();         // the version-check page

// True when the executable's own path names a screen saver: longer than four
// characters, its last three (one trailing double quote ignored) "scr" in
// any case. Only the first 255 characters of the path count.
bool IsScreenSaverPath(std::string_view path);

// The saver argument of the command line.
enum class SaverAction {
    kRun,        // no switch or an unknown one: value 1
    kRunSystem,  // /s: value 2
    kConfigure,  // /c: show the no-settings box, exit 0
    kPreview,    // /p NUMBER: play into the parent window
    kExit,       // /p without a number: exit 0 at once
};
struct SaverArgument {
    SaverAction action = SaverAction::kRun;
    uint32_t mode = 1;    // 1, 2, or the preview parent's handle
    uint64_t parent = 0;  // the preview parent (an X11 window id on Linux)
};
SaverArgument ParseSaverArgument(std::string_view command_line);

// A date as the profile keeps it: "%04i-%02i-%02i".
struct CalendarDate {
    int year, month, day;
};
std::string DateText(CalendarDate date);
CalendarDate TwoMonthsBefore(CalendarDate today);  // the day unchanged
CalendarDate AWeekBefore(CalendarDate today);      // day - 7, or day + 23 of the month before

// Whether to ask about a newer version today, given the stored date of the
// last check (the build date when there is none).
bool VersionCheckDue(CalendarDate today, std::string_view last_check);

// Counts mouse moves to new positions; the sixth ends the saver (and the
// count starts over).
class SaverMouseWatch {
  public:
    // True when this move ends the saver.
    bool Moved(int x, int y);

  private:
    bool has_last_ = false;
    int last_x_ = 0, last_y_ = 0;
    int moves_ = 0;
};

}  // namespace vemo::player
