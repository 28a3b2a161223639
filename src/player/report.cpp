#include "report.h"

#include <cstdio>

namespace vemo::player {

const char kSummaryTitle[] = "Vemo Playback Summary";
const char kStatisticsSample[] =
    "Fre: 2000, FPS: 100.0, Buf: 100%, Vid: 55%, Aud: 55%, Blit: 55%, Read: 55%, Back: 55%, "
    "Rate: 1000000";

namespace {

// The report's figures are unsigned; the template prints them with %i, so a
// figure above 2^31 shows as the negative number it is as a signed value.
int AsInt(uint32_t v) {
    return static_cast<int>(v);
}

std::string Format(const char* format, auto... arguments) {
    int length = std::snprintf(nullptr, 0, format, arguments...);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, arguments...);
    text.resize(static_cast<size_t>(length));
    return text;
}

const char* Plural(uint32_t count) {
    return count == 1 ? "" : "s";
}

// value * scale / divisor in 64 bits, cut to 32 as the figure is kept.
uint32_t Ratio(uint32_t value, uint32_t scale, uint32_t divisor) {
    if (divisor == 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(value) * scale / divisor);
}

}  // namespace

std::string TenthsText(uint32_t tenths) {
    return Format("%i.%01i", AsInt(tenths / 10), AsInt(tenths % 10));
}

std::string DurationText(uint32_t t) {
    if (t < 1000) return Format("%i millisecond%s", AsInt(t), Plural(t));
    if (t < 60000) return Format("%i second%s", AsInt(t / 1000), Plural(t / 1000));
    if (t <= 3599999) {
        uint32_t minutes = t / 60000, seconds = (t % 60000) / 1000;
        return Format("%i minute%s%i second%s", AsInt(minutes), minutes == 1 ? " " : "s ",
                      AsInt(seconds), Plural(seconds));
    }
    uint32_t hours = t / 3600000, minutes = (t % 3600000) / 60000;
    return Format("%i hour%s%i minute%s", AsInt(hours), hours == 1 ? " " : "s ", AsInt(minutes),
                  Plural(minutes));
}

std::string SummaryReport(const MovieSummary& s, const DisplayFacts& display) {
    if (s.frames_played == 0) return {};
    const uint32_t total = s.total_playback_time;
    std::string played_rate =
        (s.played_rate_num == 0 || s.played_rate_den == 0)
            ? std::string("As fast as possible")
            : TenthsText(Ratio(s.played_rate_num, 10, s.played_rate_den)) + " frames/sec";
    std::string header_rate = TenthsText(Ratio(s.header_rate_num, 10, s.header_rate_den));
    std::string obtained = TenthsText(Ratio(s.frames_played, 10000, total));
    auto percent = [&](uint32_t v) { return TenthsText(Ratio(v, 1000, total)); };
    std::string video = percent(s.video_time), audio = percent(s.audio_time),
                blit = percent(s.blit_time), read = percent(s.frame_read_time),
                busy = percent(s.busy_service_time), idle = percent(s.idle_service_time);
    std::string total_text = DurationText(total), open_text = DurationText(s.open_time);
    auto rate_of = [](uint32_t time) { return TenthsText(10000 / (time == 0 ? 1 : time)); };
    std::string slowest = rate_of(s.slowest_frame_time);
    std::string second;
    if (s.frames_played >= 2) {
        second = Format("Second slowest frame: %i (%s frames/sec)\n", AsInt(s.second_slowest_frame),
                        rate_of(s.second_slowest_frame_time).c_str());
    }
    return Format(
        "Video: %i x %i at %s frames/sec\nTotal frames: %i\n\nTotal frames played: %i\nFrame rate "
        "played: %s\nFrame rate obtained: %s frames/sec\nSkipped frames: %i\nSkipped blits: "
        "%i\nSound skips: %i\n\nPercentage spent decompressing video: %s\nPercentage spent "
        "decompressing audio: %s\nPercentage spent blitting: %s\nPercentage spent reading: "
        "%s\nPercentage spent reading while idle: %s\nPercentage spent reading in background: "
        "%s\nSpeed of playback device: %i bytes/sec\n\nTotal playback time: %s\nTotal open time: "
        "%s\nSlowest frame: %i (%s frames/sec)\n%s\nAverage data rate: %i\nAverage frame size: "
        "%i\nPeak data rate: %i bytes/sec (frame: %i)\n\nTotal memory used: %i\nTotal input "
        "memory: %i\nHighest input memory used: %i\n\nBlitting style: %s\nVideo mode: %i x %i at "
        "%i bits\n",
        AsInt(s.width), AsInt(s.height), header_rate.c_str(), AsInt(s.frames),
        AsInt(s.frames_played), played_rate.c_str(), obtained.c_str(), AsInt(s.skipped_frames),
        AsInt(s.skipped_blits), AsInt(s.sound_skips), video.c_str(), audio.c_str(), blit.c_str(),
        read.c_str(), idle.c_str(), busy.c_str(), AsInt(s.device_speed), total_text.c_str(),
        open_text.c_str(), AsInt(s.slowest_frame), slowest.c_str(), second.c_str(),
        AsInt(s.average_data_rate), AsInt(s.average_frame_size), AsInt(s.peak_data_rate),
        AsInt(s.peak_frame), AsInt(s.total_memory), AsInt(s.total_input_memory),
        AsInt(s.highest_input_memory), display.blit_style_name.c_str(), display.width,
        display.height, display.bits);
}

std::string StatisticsLine(const RealtimeStats& r) {
    const uint32_t window = r.window_time == 0 ? 1 : r.window_time;
    // Unsigned 32-bit arithmetic throughout, as the figures are kept.
    uint32_t fps = r.window_frames * 10000u / window;
    uint32_t buffer = ((r.input_fill + 1) * 1000u / (r.input_full_level + 1) + 5) / 10;
    return Format(
        "Fr: %i, FPS: %i.%0i, Buf: %i%%, Vid: %i%%, Aud: %i%%, Blit: %i%%, Read: %i%%, Back: %i%%, "
        "Rate: %i",
        AsInt(r.frame), AsInt(fps / 10), AsInt(fps % 10), AsInt(buffer),
        AsInt(r.video_time * 100u / window), AsInt(r.audio_time * 100u / window),
        AsInt(r.blit_time * 100u / window),
        AsInt((r.frame_read_time + r.idle_service_time) * 100u / window),
        AsInt(r.busy_service_time * 100u / window), AsInt(r.data_rate));
}

}  // namespace vemo::player
