// Seeking: moving a playing movie to a key frame elsewhere.
#include <cstring>

#include "movie_internal.h"
#include "vemo/movie_seek.h"

namespace vemo {

namespace {

bool KeyAt(const Movie* m, uint32_t n) {
    return IsKeyFrame(m->source.index[n - 1]);
}

}  // namespace

uint32_t SeekMovie(Movie* m, uint32_t frame, int direction) {
    if (!m || m->frames == 0) return 0;
    if (m->done) return m->current_frame;
    if (frame < 1) frame = 1;
    if (frame > m->frames) frame = m->frames;
    const uint32_t now_at = m->current_frame;
    const uint32_t here = now_at >= 1 && now_at <= m->frames ? now_at : 1u;
    // The nearest key frame at or before the wanted one.
    uint32_t target = frame;
    while (target > 1 && !KeyAt(m, target)) --target;
    if (direction > 0 && target <= here) {
        // Forward but no key frame in between: the first one after here.
        uint32_t n = here + 1;
        while (n <= m->frames && !KeyAt(m, n)) ++n;
        if (n > m->frames) return here;  // nothing ahead to go to
        target = n;
    }
    if (!KeyAt(m, target)) return here;  // a movie whose first frame is not a key frame

    if (m->source.io) m->source.io->SetCoreBusy(true);
    const bool sound = m->tracks.sound_on;
    if (sound) SetSoundOnOff(m, 0);
    if (!ReadMovieFrame(m, target)) {
        if (m->source.io) m->source.io->SetCoreBusy(false);
        return here;
    }
    m->current_frame = target;
    m->last_decoded_frame = 0;  // decode the key frame even when it is the frame just shown
    m->picture.rect_count = -1;
    m->clock.last_blit_skipped = false;
    m->clock.skip_this_blit = false;
    // The clock starts again at the new frame.
    m->clock.clock_start = 0;
    m->clock.late_carry = 0;
    m->clock.late_step = 0;
    m->clock.pause_offset = 0;
    m->clock.consecutive_late = 0;
    if (sound) SetSoundOnOff(m, 1);
    if (m->source.io) m->source.io->SetCoreBusy(false);
    return target;
}

}  // namespace vemo
