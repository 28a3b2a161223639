// The texts the player shows about playback: the summary report (/S) and
// the live statistics line (/Q).
#pragma once

#include <cstdint>
#include <string>

#include "vemo/movie.h"

namespace vemo::player {

extern const char kSummaryTitle[];  // "Vemo Playback Summary"
// The sample line that sizes the statistics band.
extern const char kStatisticsSample[];

// A value given in tenths as "%i.%01i" (299 gives "29.9").
std::string TenthsText(uint32_t tenths);
// A duration in milliseconds: "1 millisecond", "1 minute 1 second", "2 hours 1 minute".
std::string DurationText(uint32_t milliseconds);

// What the report tells about the display the movie was shown on.
struct DisplayFacts {
    std::string blit_style_name;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0;
};

// The summary report; empty when no frame was played (then no box is shown).
std::string SummaryReport(const MovieSummary& summary, const DisplayFacts& display);

// The statistics line for the last second of frames.
std::string StatisticsLine(const RealtimeStats& stats);

}  // namespace vemo::player
