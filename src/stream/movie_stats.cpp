// Playback statistics: counters, timing rings, the summary and the
// realtime window.
#include <cstring>

#include "movie_internal.h"

namespace vemo {

namespace {

struct InputFigures {
    InputStatistics stats;
    uint32_t full_level = 0;
    uint32_t fill = 0;
};

InputFigures Input(const Movie* m) {
    InputFigures f;
    if (m->source.io) {
        f.stats = m->source.io->Statistics();
        f.full_level = m->source.io->FullLevel();
        f.fill = m->source.io->Fill();
    }
    return f;
}

}  // namespace

void BookBlitTime(Movie* m) {
    if (!m->stats.decode_end_pending) return;
    m->stats.blit_time += MovieNow() - m->stats.decode_end_time;
    m->stats.decode_end_pending = false;
}

void UpdateSlowestFrames(Movie* m) {
    if (!m->stats.frame_time_pending) return;
    m->stats.frame_time_pending = false;
    const uint32_t t = MovieNow() - m->stats.frame_start_time;
    if (t > m->stats.slowest_time) {
        m->stats.second_slowest_time = m->stats.slowest_time;
        m->stats.second_slowest_frame = m->stats.slowest_frame;
        m->stats.slowest_time = t;
        m->stats.slowest_frame = m->stats.frame_start_number;
    } else if (t > m->stats.second_slowest_time) {
        m->stats.second_slowest_time = t;
        m->stats.second_slowest_frame = m->stats.frame_start_number;
    }
}

void PushTimingRings(Movie* m, uint32_t now) {
    const uint32_t w = m->whole_fps;
    const uint32_t old = m->stats.ring_position;
    if (m->clock.frames_decoded == 0) {
        if (m->header_rate_num)
            m->stats.rings[kRingTime][old] =
                now - static_cast<uint32_t>(1000ull * m->header_rate_den / m->header_rate_num);
        else
            m->stats.rings[kRingTime][old] = now;
        const InputFigures f = Input(m);
        m->stats.idle_service_base = f.stats.idle_service_time;
        m->stats.busy_service_base = f.stats.busy_service_time;
    }
    const uint32_t p = old == 0 ? w - 1 : old - 1;
    m->stats.ring_position = p;
    const InputFigures f = Input(m);
    m->stats.rings[kRingTime][p] = now;
    m->stats.rings[kRingVideo][p] = m->stats.video_time;
    m->stats.rings[kRingAudio][p] = m->stats.audio_time;
    m->stats.rings[kRingBlit][p] = m->stats.blit_time;
    m->stats.rings[kRingFrameRead][p] = f.stats.frame_read_time;
    m->stats.rings[kRingIdleService][p] = f.stats.idle_service_time - m->stats.idle_service_base;
    m->stats.rings[kRingBusyService][p] = f.stats.busy_service_time - m->stats.busy_service_base;
}

void GetSummary(Movie* m, MovieSummary* s) {
    if (!m || !s) return;
    BookBlitTime(m);
    UpdateSlowestFrames(m);
    std::memset(s, 0, sizeof(*s));
    const InputFigures f = Input(m);
    s->width = m->width;
    s->height = m->height;
    s->total_playback_time = m->clock.frames_decoded ? MovieNow() - m->stats.first_decode_time : 0;
    s->header_rate_num = m->header_rate_num;
    s->header_rate_den = m->header_rate_den;
    s->played_rate_num = m->clock.rate_num;
    s->played_rate_den = m->clock.rate_den;
    s->open_time = m->stats.open_time;
    s->frames = m->frames;
    s->frames_played = m->clock.frames_decoded;
    s->skipped_frames = 0;
    s->skipped_blits = m->stats.skipped_blits;
    s->sound_skips = m->stats.sound_skips;
    s->blit_time = m->stats.blit_time;
    s->frame_read_time = f.stats.frame_read_time;
    s->video_time = m->stats.video_time;
    s->audio_time = m->stats.audio_time;
    s->idle_service_time = f.stats.idle_service_time - m->stats.idle_service_base;
    s->busy_service_time = f.stats.busy_service_time - m->stats.busy_service_base;
    s->device_speed = static_cast<uint32_t>(static_cast<uint64_t>(f.stats.bytes_read) * 1000 /
                                            (uint64_t{f.stats.read_time} + 1));
    s->slowest_frame_time = m->stats.slowest_time;
    s->second_slowest_frame_time = m->stats.second_slowest_time;
    s->slowest_frame = m->stats.slowest_frame;
    s->second_slowest_frame = m->stats.second_slowest_frame;
    const uint32_t data = m->source.size_field - m->source.first_frame_offset;
    const uint64_t divisor = static_cast<uint64_t>(m->frames) * m->header_rate_den;
    s->average_data_rate =
        divisor ? static_cast<uint32_t>(static_cast<uint64_t>(data) * m->header_rate_num / divisor)
                : 0;
    s->average_frame_size = m->frames ? data / m->frames : 0;
    s->total_memory = m->stats.total_memory;
    s->total_input_memory = f.stats.buffer_size;
    s->highest_input_memory = f.stats.highest_fill;
    s->peak_data_rate = m->source.peak_rate;
    s->peak_frame = m->source.peak_frame + 1;
}

void GetRealtimeStats(uint32_t frames, Movie* m, RealtimeStats* s) {
    if (!m || !s) return;
    BookBlitTime(m);
    UpdateSlowestFrames(m);
    std::memset(s, 0, sizeof(*s));
    const uint32_t w = m->whole_fps;
    uint32_t n = frames;
    if (n == 0 || n >= w) n = w - 1;
    const uint32_t current = m->current_frame;
    const uint32_t c = current == 0xFFFFFFFFu ? 1 : current;
    if (c < n) n = c - 1;
    if (n < 1) n = 1;
    const uint32_t p = m->stats.ring_position;
    const uint32_t q = (p + n) % w;
    const InputFigures f = Input(m);
    s->frame = m->last_decoded_frame;
    s->played_rate_num = m->clock.rate_num;
    s->played_rate_den = m->clock.rate_den;
    s->window_frames = n;
    const uint32_t span = m->stats.rings[kRingTime][p] - m->stats.rings[kRingTime][q];
    s->window_time = span ? span : 1;
    auto diff = [&](int ring) { return m->stats.rings[ring][p] - m->stats.rings[ring][q]; };
    s->video_time = diff(kRingVideo);
    s->audio_time = diff(kRingAudio);
    s->frame_read_time = diff(kRingFrameRead);
    s->idle_service_time = diff(kRingIdleService);
    s->busy_service_time = diff(kRingBusyService);
    s->blit_time = diff(kRingBlit);
    s->input_full_level = f.full_level;
    s->input_fill = f.fill;
    if (c >= n && c <= m->source.index_length) {
        const uint64_t bytes = static_cast<uint64_t>(m->source.index[c] - m->source.index[c - n]);
        const uint64_t divisor = static_cast<uint64_t>(m->header_rate_den) * n;
        s->data_rate = divisor ? static_cast<uint32_t>(bytes * m->header_rate_num / divisor) : 0;
    }
}

}  // namespace vemo
