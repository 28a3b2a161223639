#include "saver.h"

#include <cctype>
#include <cstdio>

namespace vemo::player {

const char kSaverNoSettingsText[] = "There are no settings for this screensaver.";
const char kPlayerTitle[] = "Vemo Video Player";
const char kVersionCheckTitle[] = "New version check...";
const char kVersionCheckText[] =
    "It's been a while since you checked for a more recent Vemo version.\n\nWould you like to "
    "check for a newer version of Vemo on the Internet?\n\nIf you choose to check for a new "
    "version, Vemo will close to allow the update to install.";
const char kBuildDate[] = "2005-05-21";
const char kLastVersionCheckKey[] = "LastVersionCheckDate";
const char kCompanionToolName[] = "tarvovideo.exe";
const char kMakerSite[] = "https://vemo.example.org";

std::string VersionCheckAddress() {
    char text[256];
    std::snprintf(text, sizeof text, "%s/scripts/vemover.asp?ver=1.8c", kMakerSite);
    return text;
}

bool IsScreenSaverPath(std::string_view path) {
    if (path.size() > 255) path = path.substr(0, 255);
    if (path.size() <= 4) return false;
    if (path.back() == '"') path.remove_suffix(1);
    if (path.size() < 3) return false;
    std::string_view tail = path.substr(path.size() - 3);
    return std::tolower(static_cast<unsigned char>(tail[0])) == 's' &&
           std::tolower(static_cast<unsigned char>(tail[1])) == 'c' &&
           std::tolower(static_cast<unsigned char>(tail[2])) == 'r';
}

SaverArgument ParseSaverArgument(std::string_view line) {
    SaverArgument result;
    size_t at = line.find_first_of("/-");
    if (at == std::string_view::npos || at + 1 >= line.size()) return result;
    char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(line[at + 1])));
    if (letter == 'c') {
        result.action = SaverAction::kConfigure;
        result.mode = 3;
    } else if (letter == 's') {
        result.action = SaverAction::kRunSystem;
        result.mode = 2;
    } else if (letter == 'p') {
        size_t digit = line.find_first_of("0123456789", at + 2);
        if (digit == std::string_view::npos) {
            result.action = SaverAction::kExit;
            return result;
        }
        uint64_t value = 0;
        for (size_t i = digit; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]));
             ++i) {
            if (value > (UINT64_MAX - 9) / 10) break;  // a handle never gets this long
            value = value * 10 + static_cast<uint64_t>(line[i] - '0');
        }
        result.action = SaverAction::kPreview;
        result.parent = value;
        result.mode = static_cast<uint32_t>(value);
    }
    return result;
}

std::string DateText(CalendarDate date) {
    char text[32];
    std::snprintf(text, sizeof text, "%04i-%02i-%02i", date.year, date.month, date.day);
    return text;
}

CalendarDate TwoMonthsBefore(CalendarDate today) {
    CalendarDate d = today;
    d.month -= 2;
    if (d.month < 1) {
        d.month += 12;
        d.year -= 1;
    }
    return d;
}

CalendarDate AWeekBefore(CalendarDate today) {
    CalendarDate d = today;
    if (d.day > 7) {
        d.day -= 7;
        return d;
    }
    d.day += 23;
    d.month -= 1;
    if (d.month < 1) {
        d.month = 12;
        d.year -= 1;
    }
    return d;
}

bool VersionCheckDue(CalendarDate today, std::string_view last_check) {
    if (DateText(TwoMonthsBefore(today)) <= std::string_view(kBuildDate)) return false;
    std::string stored(last_check.substr(0, 15));
    return stored < DateText(AWeekBefore(today));
}

bool SaverMouseWatch::Moved(int x, int y) {
    if (has_last_ && x == last_x_ && y == last_y_) return false;
    bool first = !has_last_;
    has_last_ = true;
    last_x_ = x;
    last_y_ = y;
    if (first) return false;  // the first reading only tells where the mouse rests
    if (++moves_ < 6) return false;
    moves_ = 0;
    return true;
}

}  // namespace vemo::player
