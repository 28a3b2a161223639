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
    return m->tracks.count && m->tracks.sound_tracks[0]->clock_ratio
               ? m->tracks.sound_tracks[0]->clock_ratio
               : 0x10000;
}

void StartClockIfNeeded(Movie* m) {
    m->clock.StartIfNeeded(MovieNow());
}

// ---------------------------------------------------------------- the clock
void MovieClock::StartIfNeeded(uint32_t now) {
    if (clock_start) return;
    clock_start = now;
    frames_at_clock_start = frames_decoded - 1;
}

void MovieClock::Restart() {
    clock_start = 0;
    late_carry = 0;
    pause_offset = 0;
}

namespace {

// ShouldWait's half: due and elapsed compared as signed values; a lateness
// beyond the tolerance re-bases the clock (without sound) or is forgiven at
// once and taken back in steps (with sound).
FrameTiming DecideWait(MovieClock& c, uint32_t due, uint32_t elapsed, uint32_t now,
                       bool with_sound) {
    if (static_cast<int32_t>(due) > static_cast<int32_t>(elapsed)) return FrameTiming::kWait;
    const uint32_t late = elapsed - due;
    if (static_cast<int32_t>(late) > static_cast<int32_t>(c.two_frame_time)) {
        if (!with_sound) {
            c.clock_start = now;
            c.frames_at_clock_start = c.frames_decoded - 1;
            c.pause_offset = 0;
        } else {
            c.late_carry = static_cast<int32_t>(late);
            c.late_step = LateStep(late, c.rate_num, c.rate_den);
        }
    }
    if (c.late_step <= c.late_carry)
        c.late_carry -= c.late_step;
    else
        c.late_carry = 0;
    return FrameTiming::kDraw;
}

// The copy's half: due and elapsed compared as unsigned values; of the blits
// later than the tolerance the first three in a row are skipped and the
// fourth is drawn.
FrameTiming DecideBlit(MovieClock& c, uint32_t due, uint32_t elapsed, bool never_skip) {
    if (elapsed < due) {
        c.last_blit_skipped = false;
        return FrameTiming::kDraw;
    }
    if (elapsed - due <= c.two_frame_time) {
        c.consecutive_late = 0;
        c.last_blit_skipped = false;
        return FrameTiming::kDraw;
    }
    c.consecutive_late += 1;
    if (c.consecutive_late > 3) {
        c.consecutive_late = 0;
        return FrameTiming::kDraw;
    }
    if (never_skip) return FrameTiming::kDrawLate;
    c.skip_this_blit = true;
    c.last_blit_skipped = true;
    return FrameTiming::kSkip;
}

}  // namespace

FrameTiming MovieClock::Decide(TimingQuestion question, uint32_t now, uint32_t ratio,
                               bool with_sound, bool sound_on, bool never_skip) {
    if (question == TimingQuestion::kWait) {
        if (paused || (with_sound && !sound_on)) return FrameTiming::kWait;
        if (rate_num == 0) return FrameTiming::kDraw;
    } else {
        // Blits are only dropped to keep up with playing sound.
        if (!with_sound || rate_num == 0 || paused) return FrameTiming::kDraw;
        if (!clock_start) {
            clock_start = now;
            frames_at_clock_start = frames_decoded - 1;
            pause_offset = 0;
        }
    }
    const uint32_t due = DueTime(frames_decoded - frames_at_clock_start, rate_num, rate_den, ratio);
    const uint32_t elapsed = now - static_cast<uint32_t>(late_carry) - clock_start;
    return question == TimingQuestion::kWait ? DecideWait(*this, due, elapsed, now, with_sound)
                                             : DecideBlit(*this, due, elapsed, never_skip);
}

void RunSoundService(Movie* m) {
    if (!m->tracks.count) return;
    m->service_frame.store(m->current_frame);
    ServiceSound(SoundLock(m), m->tracks.sound_tracks, m->tracks.count,
                 static_cast<int32_t>(m->current_frame));
}

void RunSoundServiceOnThread(Movie* m) {
    if (!m->tracks.count) return;
    ServiceSound(SoundLock(m), m->tracks.sound_tracks, m->tracks.count,
                 static_cast<int32_t>(m->service_frame.load()));
}

// ---------------------------------------------------------------- the input pump
void PumpInput(Movie* m, PumpReason reason) {
    FrameFeed& f = m->source;
    if (!f.Buffered()) return;
    MovieIO* io = f.io.get();
    const uint32_t full = io->FullLevel();
    const uint32_t limit = f.peak_rate < full ? f.peak_rate : full;
    switch (reason) {
        case PumpReason::kOpen:
            for (int guard = 0; guard < 1 << 16; ++guard)
                if (io->ServiceInput() <= 0) break;
            return;
        case PumpReason::kRefill:
            for (int guard = 0; guard < 1 << 16; ++guard) {
                const uint64_t fill = io->Fill();
                if (fill * 32 >= 29ull * io->FullLevel()) break;
                if (io->ServiceInput() <= 0) break;
            }
            return;
        case PumpReason::kWait:
            // With a background reader, a buffer half full needs no help.
            if (f.threads && io->Fill() >= limit / 2) return;
            if (io->TryLockInput()) {
                io->ServiceInput();
                io->UnlockInput();
            }
            return;
        case PumpReason::kAhead:
            if (io->ChunkInProgress() || io->Fill() >= static_cast<uint32_t>((3ull * limit) >> 2))
                return;
            if (io->TryLockInput()) {
                io->ServiceInput();
                io->UnlockInput();
            } else if (!(m->open_flags & kOpenWithoutThreads)) {
                platform::YieldThread();
            }
            return;
    }
}

bool ReadMovieFrame(Movie* m, uint32_t n) {
    m->source.packet = nullptr;
    m->source.packet_size = 0;
    if (n == 0 || n > m->frames) return false;
    const uint32_t begin = IndexOffset(m->source.index[n - 1]);
    const uint32_t size = IndexOffset(m->source.index[n]) - begin;
    if (m->source.preloaded) {
        const uint32_t at = begin - m->source.first_frame_offset;
        if (at > m->source.preload_valid || size > m->source.preload_valid - at) {
            m->done = true;
            return false;
        }
        m->source.packet = m->source.preload_base + at;
    } else {
        if (size > m->source.largest_frame ||
            m->source.io->ReadFrame(n - 1, begin, m->source.frame_buffer, size) != size) {
            m->done = true;
            return false;
        }
        m->source.packet = m->source.frame_buffer;
    }
    m->source.packet_size = size;
    return true;
}

int ShouldWait(Movie* m) {
    if (!m || m->done || (m->clock.frames_decoded == 0 && !m->clock.paused)) return 0;
    StartClockIfNeeded(m);
    RunSoundService(m);
    BookBlitTime(m);
    UpdateSlowestFrames(m);
    const bool with_sound = m->tracks.count != 0;
    if (m->clock.Decide(TimingQuestion::kWait, MovieNow(), ClockRatio(m), with_sound,
                        m->tracks.sound_on, false) == FrameTiming::kDraw)
        return 0;
    PumpInput(m, PumpReason::kWait);
    return 1;
}

int DecodeFrame(Movie* m) {
    if (!m) return 0;
    if (m->done) return 1;
    if (m->current_frame == m->last_decoded_frame) return 0;
    if (m->clock.reset_request) {
        m->clock.reset_request = false;
        if (m->tracks.sound_on) {
            SetSoundOnOff(m, 0);
            SetSoundOnOff(m, 1);
        }
        m->clock.Restart();
    }
    m->clock.skip_this_blit = false;
    if (m->source.io) m->source.io->SetCoreBusy(true);
    const uint32_t start = MovieNow();
    if (m->clock.frames_decoded == 0) m->stats.first_decode_time = start;
    PushTimingRings(m, start);
    m->stats.frame_start_time = start;
    m->stats.frame_start_number = m->current_frame;
    m->stats.frame_time_pending = true;
    m->picture.rect_count = -1;

    // A frame whose packet could not be read whole ends playback; frames
    // read before a read error still play.
    if (!m->source.packet) {
        m->done = true;
        if (m->source.io) m->source.io->SetCoreBusy(false);
        return 1;
    }
    const uint8_t* video = nullptr;
    uint32_t video_size = 0;
    if (!FindVideoPart(m->source.packet, m->source.packet_size, m->source.track_count, &video,
                       &video_size)) {
        // A damaged packet ends playback.
        m->done = true;
        if (m->source.io) m->source.io->SetCoreBusy(false);
        return 1;
    }

    DecodeMovieAudio(m);
    const uint32_t audio_end = MovieNow();
    bool video_ahead = false;  // the worker decoded the picture (its time is booked)

    if (m->picture.planes && m->picture.video_on) {
        PumpInput(m, PumpReason::kAhead);
        const bool key = IsKeyFrame(m->source.index[m->current_frame - 1]);
        if (TakeVideoAhead(m)) {
            video_ahead = true;
        } else {
            if (!m->clock.last_blit_skipped) m->picture.ClearChangeMap();
            m->picture.unchanged_count = DecodePictureHere(m, video, video_size, key);
        }
    }

    RunSoundService(m);
    m->clock.frames_decoded += 1;
    StartClockIfNeeded(m);
    const uint32_t end = MovieNow();
    m->stats.decode_end_time = end;
    m->stats.decode_end_pending = true;
    m->stats.audio_time += audio_end - start;
    if (!video_ahead) m->stats.video_time += end - audio_end;
    m->last_decoded_frame = m->current_frame;
    if (m->source.io) m->source.io->SetCoreBusy(false);
    return 0;
}

void NextFrame(Movie* m) {
    if (!m) return;
    if (m->source.io) m->source.io->SetCoreBusy(true);
    m->clock.skip_this_blit = false;
    bool skip = false;
    for (uint32_t i = 0; i < m->tracks.count; ++i) {
        SoundTrack* d = m->tracks.sound_tracks[i];
        if (d->back_end->take_ran_dry(d->device) && m->current_frame >= 2 &&
            static_cast<int32_t>(m->current_frame) <= d->end_of_sound_frame)
            skip = true;
    }
    if (skip) {
        m->stats.sound_skips += 1;
        const bool input = !m->source.preloaded && m->source.io;
        if (input) m->source.io->LockInput();
        platform::Mutex* lock = SoundLock(m);
        if (lock) platform::LockMutex(lock);
        SetSoundOnOff(m, 0);
        if (input) PumpInput(m, PumpReason::kRefill);
        m->clock.Restart();
        SetSoundOnOff(m, 1);
        if (lock) platform::UnlockMutex(lock);
        if (input) m->source.io->UnlockInput();
    }
    RunSoundService(m);
    BookBlitTime(m);

    const uint32_t n = m->current_frame >= m->frames ? 1 : m->current_frame + 1;
    // The worker may be decoding frame n from the packet read ahead; any
    // other frame in its hands is dropped before the frame buffer changes.
    if (m->ahead && m->ahead->frame && m->ahead->frame != n) CancelVideoAhead(m, false);
    if (!UseFrameReadAhead(m, n)) ReadMovieFrame(m, n);
    RunSoundService(m);
    m->current_frame = n;
    m->picture.rect_count = -1;
    if (n == 1) {
        const uint32_t now = MovieNow();
        if (!m->clock.reset_on_rewind_time) {
            m->clock.reset_on_rewind_time = now;
        } else if (now - m->clock.reset_on_rewind_time >= 300001u) {
            m->clock.reset_on_rewind_time = now;
            m->clock.reset_request = true;
        }
    }
    StartVideoAhead(m, m->clock.last_blit_skipped);
    if (m->source.io) m->source.io->SetCoreBusy(false);
}

int PauseMovie(Movie* m, int pause) {
    if (!m) return 0;
    BookBlitTime(m);
    UpdateSlowestFrames(m);
    bool resuming = false;
    if (pause && !m->clock.paused) {
        m->clock.pause_offset = m->clock.clock_start ? MovieNow() - m->clock.clock_start : 0;
    } else if (!pause && m->clock.paused) {
        resuming = true;
    }
    m->clock.paused = pause != 0;
    // The devices are paused under the sound lock, so the sound service
    // never sees a device change its state under it.
    if (m->tracks.count) {
        platform::Mutex* lock = SoundLock(m);
        if (lock) platform::LockMutex(lock);
        for (uint32_t i = 0; i < m->tracks.count; ++i) {
            SoundTrack* d = m->tracks.sound_tracks[i];
            d->back_end->pause(d->device, m->clock.paused ? 1 : 0);
        }
        if (lock) platform::UnlockMutex(lock);
    }
    if (m->clock.frames_decoded && m->tracks.count) RunSoundService(m);
    if (resuming && m->clock.clock_start) m->clock.clock_start = MovieNow() - m->clock.pause_offset;
    if (resuming && !m->clock.clock_start) m->clock.pause_offset = 0;
    return m->clock.paused ? 1 : 0;
}

int SetSoundOnOff(Movie* m, int on) {
    if (!m || !m->tracks.count) return 0;
    platform::Mutex* lock = nullptr;
    bool any_on = false;
    bool went_off = false;
    for (uint32_t i = 0; i < m->tracks.count; ++i) {
        SoundTrack* d = m->tracks.sound_tracks[i];
        if (!lock && (lock = SoundLock(m))) platform::LockMutex(lock);
        if (d->back_end->on(d->device, on ? 1 : 0)) {
            any_on = true;
        } else if (m->tracks.sound_on) {
            // Every ring that goes quiet is emptied and primed, so the device
            // starts again behind a cushion of silence.
            d->ring.Empty();
            if (m->current_frame != 1 || m->last_decoded_frame == 1)
                d->ring.PrimeWithSilence(d->silence_prime_size);
            went_off = true;
        }
    }
    if (went_off) m->tracks.sound_on = false;
    if (any_on && !m->tracks.sound_on) {
        m->tracks.sound_on = true;
        m->clock.Restart();
    }
    if (lock) platform::UnlockMutex(lock);
    return any_on ? 1 : 0;
}

// ---------------------------------------------------------------- changed areas
int GetChangedRects(uint32_t flags, Movie* m) {
    if (!m || (flags & kRectsNotWanted) || !m->picture.planes) return 0;
    if (m->clock.skip_this_blit && !(flags & kRectsNeverSkip) &&
        !(m->open_flags & kOpenNeverSkipBlits))
        return 0;
    if (m->picture.rect_count >= 0) return m->picture.rect_count;
    ChangeMapView view;
    view.map = m->picture.change_map;
    view.blocks_across = m->picture.blocks_across;
    view.blocks_down = m->picture.blocks_down;
    view.coded_width = m->header_width;
    view.coded_height = m->header_height;
    view.played_width = m->width;
    view.played_height = m->height;
    const uint32_t mode = (m->picture.last_copy_flags & kOpenScaleMask) >> kOpenScaleShift;
    m->picture.rect_count =
        ComputeChangedRects(view, (flags & kRectsBoundingOnly) != 0, mode, m->picture.rects);
    return m->picture.rect_count;
}

const ChangedRect* MovieChangedRects(const Movie* m) {
    return m ? m->picture.rects : nullptr;
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
    info->rate_num = m->clock.rate_num;
    info->rate_den = m->clock.rate_den;
    info->open_flags = m->open_flags;
    info->header_flags = m->header_flags;
    info->scaling_mode = (m->open_flags & kOpenScaleMask) >> kOpenScaleShift;
    info->played_tracks = m->tracks.count;
    info->sound_on = m->tracks.sound_on ? 1 : 0;
    info->paused = m->clock.paused ? 1 : 0;
    info->done = m->done ? 1 : 0;
    info->preloaded = m->source.preloaded ? 1 : 0;
    info->threaded = m->source.threads ? 1 : 0;
    info->decode_threads = m->ahead ? m->ahead->threads : 1;
    return true;
}

void MoviePicture::ClearChangeMap() {
    std::memset(change_map, 0, block_count + 16);
}

const FramePlanes* MovieFramePlanes(const Movie* m) {
    return m ? m->picture.planes : nullptr;
}
const uint8_t* MovieChangeMap(const Movie* m) {
    return m ? m->picture.change_map : nullptr;
}
SoundTrack* MovieSoundTrack(const Movie* m, uint32_t i) {
    return m && i < m->tracks.count ? m->tracks.sound_tracks[i] : nullptr;
}

}  // namespace vemo
