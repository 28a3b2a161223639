// Frame pacing, decoding, advancing, pause and sound switching.
#include <cstring>

#include "movie_internal.h"
#include "vemo/platform.h"
#include "vemo/timer.h"

namespace vemo {

uint32_t DueTime(uint32_t frames, uint32_t rate_num, uint32_t rate_den, uint32_t clock_ratio) {
    if (rate_num == 0) return 0;
    const uint64_t base = static_cast<uint64_t>(frames) * 1000u * rate_den / rate_num;
    return static_cast<uint32_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(base)) * clock_ratio) >> 16);
}

int32_t LateStep(uint32_t late, uint32_t rate_num, uint32_t rate_den) {
    if (rate_num == 0) return 0;
    const uint64_t step = static_cast<uint64_t>(late) * rate_den / rate_num;
    return step > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(step);
}

uint32_t MovieNow() {
    const uint32_t now = Milliseconds();
    return now ? now : 1;
}

uint32_t ClockRatio(const Movie* m) {
    return m->played_count && m->drivers[0]->clock_ratio ? m->drivers[0]->clock_ratio : 0x10000;
}

void StartClockIfNeeded(Movie* m) {
    if (m->clock_start) return;
    m->clock_start = MovieNow();
    m->frames_at_clock_start = m->frames_decoded - 1;
}

void RunSoundService(Movie* m) {
    if (!m->played_count) return;
    m->service_frame.store(m->current_frame);
    ServiceSound(SoundLock(m), m->drivers, m->played_count, static_cast<int32_t>(m->current_frame));
}

void RunSoundServiceOnThread(Movie* m) {
    if (!m->played_count) return;
    ServiceSound(SoundLock(m), m->drivers, m->played_count,
                 static_cast<int32_t>(m->service_frame.load()));
}

void ServiceInputIfLow(Movie* m) {
    if (m->preloaded || !m->io || m->io->ChunkInProgress()) return;
    const uint32_t full = m->io->FullLevel();
    const uint32_t limit = m->peak_rate < full ? m->peak_rate : full;
    if (m->io->Fill() >= static_cast<uint32_t>((3ull * limit) >> 2)) return;
    if (m->io->TryLockInput()) {
        m->io->ServiceInput();
        m->io->UnlockInput();
    } else if (!(m->open_flags & kOpenWithoutThreads)) {
        platform::YieldThread();
    }
}

bool ReadMovieFrame(Movie* m, uint32_t n) {
    m->packet = nullptr;
    m->packet_size = 0;
    if (n == 0 || n > m->frames) return false;
    const uint32_t begin = IndexOffset(m->index[n - 1]);
    const uint32_t size = IndexOffset(m->index[n]) - begin;
    if (m->preloaded) {
        const uint32_t at = begin - m->first_frame_offset;
        if (at > m->preload_valid || size > m->preload_valid - at) {
            m->done = true;
            return false;
        }
        m->packet = m->preload_base + at;
    } else {
        if (size > m->largest_frame ||
            m->io->ReadFrame(n - 1, begin, m->frame_buffer, size) != size) {
            m->done = true;
            return false;
        }
        m->packet = m->frame_buffer;
    }
    m->packet_size = size;
    return true;
}

int ShouldWait(Movie* m) {
    if (!m || m->done || (m->frames_decoded == 0 && !m->paused)) return 0;
    StartClockIfNeeded(m);
    RunSoundService(m);
    BookBlitTime(m);
    UpdateSlowestFrames(m);
    const bool with_sound = m->played_count != 0;
    if (!m->paused && (!with_sound || m->sound_on)) {
        const uint32_t r = m->rate_num, d = m->rate_den;
        if (r == 0) return 0;
        const uint32_t now = MovieNow();
        const uint32_t due =
            DueTime(m->frames_decoded - m->frames_at_clock_start, r, d, ClockRatio(m));
        const uint32_t elapsed = now - static_cast<uint32_t>(m->late_carry) - m->clock_start;
        if (static_cast<int32_t>(due) <= static_cast<int32_t>(elapsed)) {
            const uint32_t late = elapsed - due;
            if (static_cast<int32_t>(late) > static_cast<int32_t>(m->two_frame_time)) {
                if (!with_sound) {
                    m->clock_start = now;
                    m->frames_at_clock_start = m->frames_decoded - 1;
                    m->pause_offset = 0;
                } else {
                    m->late_carry = static_cast<int32_t>(late);
                    m->late_step = LateStep(late, r, d);
                }
            }
            if (m->late_step <= m->late_carry)
                m->late_carry -= m->late_step;
            else
                m->late_carry = 0;
            return 0;
        }
    }
    if (!m->preloaded && m->io) {
        if (m->threads) {
            const uint32_t full = m->io->FullLevel();
            const uint32_t limit = m->peak_rate < full ? m->peak_rate : full;
            if (m->io->Fill() >= limit / 2) return 1;
        }
        if (m->io->TryLockInput()) {
            m->io->ServiceInput();
            m->io->UnlockInput();
        }
    }
    return 1;
}

int DecodeFrame(Movie* m) {
    if (!m) return 0;
    if (m->done) return 1;
    if (m->current_frame == m->last_decoded_frame) return 0;
    if (m->reset_request) {
        m->reset_request = false;
        if (m->sound_on) {
            SetSoundOnOff(m, 0);
            SetSoundOnOff(m, 1);
        }
        m->clock_start = 0;
        m->late_carry = 0;
        m->pause_offset = 0;
    }
    m->skip_this_blit = false;
    if (m->io) m->io->SetCoreBusy(true);
    const uint32_t start = MovieNow();
    if (m->frames_decoded == 0) m->first_decode_time = start;
    PushTimingRings(m, start);
    m->frame_start_time = start;
    m->frame_start_number = m->current_frame;
    m->frame_time_pending = true;
    m->rect_count = -1;

    // A frame whose packet could not be read whole ends playback; frames
    // read before a read error still play.
    if (!m->packet) {
        m->done = true;
        if (m->io) m->io->SetCoreBusy(false);
        return 1;
    }
    const uint8_t* video = nullptr;
    uint32_t video_size = 0;
    if (!FindVideoPart(m->packet, m->packet_size, m->track_count, &video, &video_size)) {
        // A damaged packet ends playback.
        m->done = true;
        if (m->io) m->io->SetCoreBusy(false);
        return 1;
    }

    DecodeMovieAudio(m);
    const uint32_t audio_end = MovieNow();

    if (m->planes && m->video_on) {
        if (!m->last_blit_skipped) std::memset(m->change_map, 0, m->block_count + 16);
        ServiceInputIfLow(m);
        const bool key = IsKeyFrame(m->index[m->current_frame - 1]);
        m->unchanged_count =
            DecodeFrameVideo(m->planes, m->change_map, m->blocks_across, video, video_size, key,
                             m->bundles, VideoDecodeOptions::For(m->open_flags, m->header_flags));
    }

    RunSoundService(m);
    m->frames_decoded += 1;
    StartClockIfNeeded(m);
    const uint32_t end = MovieNow();
    m->decode_end_time = end;
    m->decode_end_pending = true;
    m->audio_time += audio_end - start;
    m->video_time += end - audio_end;
    m->last_decoded_frame = m->current_frame;
    if (m->io) m->io->SetCoreBusy(false);
    return 0;
}

void NextFrame(Movie* m) {
    if (!m) return;
    if (m->io) m->io->SetCoreBusy(true);
    m->skip_this_blit = false;
    bool skip = false;
    for (uint32_t i = 0; i < m->played_count; ++i) {
        SoundDriver* d = m->drivers[i];
        if (d->ran_dry.exchange(0) && m->current_frame >= 2 &&
            static_cast<int32_t>(m->current_frame) <= d->end_of_sound_frame)
            skip = true;
    }
    if (skip) {
        m->sound_skips += 1;
        const bool input = !m->preloaded && m->io;
        if (input) m->io->LockInput();
        platform::Mutex* lock = SoundLock(m);
        if (lock) platform::LockMutex(lock);
        SetSoundOnOff(m, 0);
        if (input) {
            for (int guard = 0; guard < 1 << 16; ++guard) {
                const uint64_t fill = m->io->Fill();
                if (fill * 32 >= 29ull * m->io->FullLevel()) break;
                if (m->io->ServiceInput() <= 0) break;
            }
        }
        m->clock_start = 0;
        m->late_carry = 0;
        m->pause_offset = 0;
        SetSoundOnOff(m, 1);
        if (lock) platform::UnlockMutex(lock);
        if (input) m->io->UnlockInput();
    }
    RunSoundService(m);
    BookBlitTime(m);

    const uint32_t n = m->current_frame >= m->frames ? 1 : m->current_frame + 1;
    ReadMovieFrame(m, n);
    RunSoundService(m);
    m->current_frame = n;
    m->rect_count = -1;
    if (n == 1) {
        const uint32_t now = MovieNow();
        if (!m->reset_on_rewind_time) {
            m->reset_on_rewind_time = now;
        } else if (now - m->reset_on_rewind_time >= 300001u) {
            m->reset_on_rewind_time = now;
            m->reset_request = true;
        }
    }
    if (m->io) m->io->SetCoreBusy(false);
}

int PauseMovie(Movie* m, int pause) {
    if (!m) return 0;
    BookBlitTime(m);
    UpdateSlowestFrames(m);
    bool resuming = false;
    if (pause && !m->paused) {
        m->pause_offset = m->clock_start ? MovieNow() - m->clock_start : 0;
    } else if (!pause && m->paused) {
        resuming = true;
    }
    m->paused = pause != 0;
    // The devices are paused under the sound lock, so the sound service
    // never sees a device change its state under it.
    if (m->played_count) {
        platform::Mutex* lock = SoundLock(m);
        if (lock) platform::LockMutex(lock);
        for (uint32_t i = 0; i < m->played_count; ++i) m->drivers[i]->PauseSound(m->paused ? 1 : 0);
        if (lock) platform::UnlockMutex(lock);
    }
    if (m->frames_decoded && m->played_count) RunSoundService(m);
    if (resuming && m->clock_start) m->clock_start = MovieNow() - m->pause_offset;
    if (resuming && !m->clock_start) m->pause_offset = 0;
    return m->paused ? 1 : 0;
}

int SetSoundOnOff(Movie* m, int on) {
    if (!m || !m->played_count) return 0;
    platform::Mutex* lock = nullptr;
    bool any_on = false;
    bool went_off = false;
    for (uint32_t i = 0; i < m->played_count; ++i) {
        SoundDriver* d = m->drivers[i];
        if (!lock && (lock = SoundLock(m))) platform::LockMutex(lock);
        if (d->SetSoundOn(on ? 1 : 0)) {
            any_on = true;
        } else if (m->sound_on) {
            // Every ring that goes quiet is emptied and primed, so the device
            // starts again behind a cushion of silence.
            d->ring.Empty();
            if (m->current_frame != 1 || m->last_decoded_frame == 1)
                d->ring.PrimeWithSilence(d->silence_prime_size);
            went_off = true;
        }
    }
    if (went_off) m->sound_on = false;
    if (any_on && !m->sound_on) {
        m->sound_on = true;
        m->clock_start = 0;
        m->late_carry = 0;
        m->pause_offset = 0;
    }
    if (lock) platform::UnlockMutex(lock);
    return any_on ? 1 : 0;
}

// ---------------------------------------------------------------- changed areas
int GetChangedRects(uint32_t flags, Movie* m) {
    if (!m || (flags & kRectsNotWanted) || !m->planes) return 0;
    if (m->skip_this_blit && !(flags & kRectsNeverSkip) && !(m->open_flags & kOpenNeverSkipBlits))
        return 0;
    if (m->rect_count >= 0) return m->rect_count;
    ChangeMapView view;
    view.map = m->change_map;
    view.blocks_across = m->blocks_across;
    view.blocks_down = m->blocks_down;
    view.coded_width = m->header_width;
    view.coded_height = m->header_height;
    view.played_width = m->width;
    view.played_height = m->height;
    const uint32_t mode = (m->last_copy_flags & kOpenScaleMask) >> kOpenScaleShift;
    m->rect_count = ComputeChangedRects(view, (flags & kRectsBoundingOnly) != 0, mode, m->rects);
    return m->rect_count;
}

const ChangedRect* MovieChangedRects(const Movie* m) {
    return m ? m->rects : nullptr;
}

bool GetMovieInfo(const Movie* m, MovieInfo* info) {
    if (!m || !info) return false;
    *info = MovieInfo{};
    info->width = m->width;
    info->height = m->height;
    info->header_width = m->header_width;
    info->header_height = m->header_height;
    info->frames = m->frames;
    info->current_frame = m->current_frame;
    info->last_decoded_frame = m->last_decoded_frame;
    info->rate_num = m->rate_num;
    info->rate_den = m->rate_den;
    info->open_flags = m->open_flags;
    info->header_flags = m->header_flags;
    info->scaling_mode = (m->open_flags & kOpenScaleMask) >> kOpenScaleShift;
    info->played_tracks = m->played_count;
    info->sound_on = m->sound_on ? 1 : 0;
    info->paused = m->paused ? 1 : 0;
    info->done = m->done ? 1 : 0;
    info->preloaded = m->preloaded ? 1 : 0;
    info->threaded = m->threads ? 1 : 0;
    return true;
}

const FramePlanes* MovieFramePlanes(const Movie* m) {
    return m ? m->planes : nullptr;
}
const uint8_t* MovieChangeMap(const Movie* m) {
    return m ? m->change_map : nullptr;
}
SoundDriver* MovieSoundDriver(const Movie* m, uint32_t i) {
    return m && i < m->played_count ? m->drivers[i] : nullptr;
}

}  // namespace vemo
