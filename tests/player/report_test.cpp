#include "report.h"

#include <gtest/gtest.h>

#include <string>

namespace vemo::player {
namespace {

TEST(ReportNumbers, TenthsAndDurations) {
    EXPECT_EQ(TenthsText(299), "29.9");
    EXPECT_EQ(TenthsText(5), "0.5");
    EXPECT_EQ(DurationText(0), "0 milliseconds");
    EXPECT_EQ(DurationText(1), "1 millisecond");
    EXPECT_EQ(DurationText(999), "999 milliseconds");
    EXPECT_EQ(DurationText(1000), "1 second");
    EXPECT_EQ(DurationText(59999), "59 seconds");
    EXPECT_EQ(DurationText(60000), "1 minute 0 seconds");
    EXPECT_EQ(DurationText(61000), "1 minute 1 second");
    EXPECT_EQ(DurationText(3599999), "59 minutes 59 seconds");
    EXPECT_EQ(DurationText(3600000), "1 hour 0 minutes");
    EXPECT_EQ(DurationText(7260000), "2 hours 1 minute");
}

MovieSummary Sample() {
    MovieSummary s{};
    s.width = 320;
    s.height = 240;
    s.total_playback_time = 66400;
    s.header_rate_num = 30000;
    s.header_rate_den = 1001;
    s.played_rate_num = 30000;
    s.played_rate_den = 1001;
    s.open_time = 12;
    s.frames = 2000;
    s.frames_played = 1990;
    s.skipped_blits = 3;
    s.sound_skips = 1;
    s.blit_time = 6640;  // 10.0 %
    s.frame_read_time = 664;
    s.video_time = 33200;  // 50.0 %
    s.audio_time = 3320;
    s.idle_service_time = 66;
    s.busy_service_time = 133;
    s.device_speed = 123456;
    s.slowest_frame_time = 250;
    s.second_slowest_frame_time = 0;
    s.slowest_frame = 17;
    s.second_slowest_frame = 18;
    s.average_data_rate = 150000;
    s.average_frame_size = 5000;
    s.total_memory = 1000000;
    s.total_input_memory = 2000000;
    s.highest_input_memory = 1500000;
    s.peak_data_rate = 300000;
    s.peak_frame = 5;
    return s;
}

TEST(SummaryReport, FillsTheTemplate) {
    std::string text = SummaryReport(Sample(), {"SDL software surface", 1920, 1080, 32});
    EXPECT_EQ(text.rfind("Video: 320 x 240 at 29.9 frames/sec\nTotal frames: 2000\n\n", 0), 0u);
    EXPECT_NE(text.find("Frame rate played: 29.9 frames/sec\n"), std::string::npos);
    EXPECT_NE(text.find("Frame rate obtained: 29.9 frames/sec\n"), std::string::npos);
    EXPECT_NE(text.find("Skipped frames: 0\nSkipped blits: 3\nSound skips: 1\n\n"),
              std::string::npos);
    EXPECT_NE(text.find("decompressing video: 50.0\n"), std::string::npos);
    EXPECT_NE(text.find("decompressing audio: 5.0\n"), std::string::npos);
    EXPECT_NE(text.find("blitting: 10.0\n"), std::string::npos);
    EXPECT_NE(text.find("reading: 1.0\n"), std::string::npos);
    EXPECT_NE(text.find("reading while idle: 0.0\n"), std::string::npos);
    EXPECT_NE(text.find("reading in background: 0.2\n"), std::string::npos);
    EXPECT_NE(text.find("Total playback time: 1 minute 6 seconds\nTotal open time: 12 "
                        "milliseconds\nSlowest frame: 17 (4.0 frames/sec)\n"
                        "Second slowest frame: 18 (1000.0 frames/sec)\n\n"),
              std::string::npos);
    EXPECT_NE(text.find("Peak data rate: 300000 bytes/sec (frame: 5)\n"), std::string::npos);
    EXPECT_NE(text.find("Blitting style: SDL software surface\nVideo mode: 1920 x 1080 at 32 "
                        "bits\n"),
              std::string::npos);
    EXPECT_EQ(text.back(), '\n');
}

TEST(SummaryReport, SpecialCases) {
    MovieSummary s = Sample();
    s.frames_played = 0;
    EXPECT_EQ(SummaryReport(s, {}), "");  // nothing played: no report
    s = Sample();
    s.played_rate_num = 0;
    s.played_rate_den = 0;
    s.frames_played = 1;
    std::string text = SummaryReport(s, {});
    EXPECT_NE(text.find("Frame rate played: As fast as possible\n"), std::string::npos);
    // One frame: the second-slowest line is left out, its place stays empty.
    EXPECT_NE(text.find("frames/sec)\n\nAverage data rate"), std::string::npos);
    // Long playbacks do not overflow the percentages.
    s = Sample();
    s.total_playback_time = 4000000000u;
    s.video_time = 2000000000u;
    EXPECT_NE(SummaryReport(s, {}).find("decompressing video: 50.0\n"), std::string::npos);
}

TEST(StatisticsLine, Figures) {
    RealtimeStats r{};
    r.frame = 120;
    r.window_frames = 29;
    r.window_time = 968;
    r.video_time = 484;
    r.audio_time = 97;
    r.blit_time = 10;
    r.frame_read_time = 5;
    r.idle_service_time = 5;
    r.busy_service_time = 20;
    r.input_full_level = 999;
    r.input_fill = 499;
    r.data_rate = 150000;
    EXPECT_EQ(StatisticsLine(r),
              "Fr: 120, FPS: 29.9, Buf: 50%, Vid: 50%, Aud: 10%, Blit: 1%, Read: 1%, Back: 2%, "
              "Rate: 150000");
    r.window_time = 0;  // never divides by zero
    EXPECT_NE(StatisticsLine(r).find("FPS: 29000.0"), std::string::npos);
}

}  // namespace
}  // namespace vemo::player
