// Seeking: moving a playing movie to any frame. The picture is decoded
// silently from the key frame at or before the asked frame (nothing is shown
// or heard on the way); sound and picture then start again together.
#include <cstring>

#include "movie_internal.h"
#include "vemo/movie_seek.h"

namespace vemo {

namespace {

bool KeyAt(const Movie* m, uint32_t n) {
    return IsKeyFrame(m->source.index[n - 1]);
}

// Decodes the pictures of frames from .. to - 1 into the planes, nothing
// else: no sound, no copy, no clock. False (and the movie done) when a frame
// cannot be read or is damaged.
bool DecodePicturesSilently(Movie* m, uint32_t from, uint32_t to) {
    for (uint32_t n = from; n < to; ++n) {
        if (!ReadMovieFrame(m, n)) return false;
        const uint8_t* video = nullptr;
        uint32_t video_size = 0;
        if (!FindVideoPart(m->source.packet, m->source.packet_size, m->source.track_count, &video,
                           &video_size)) {
            m->done = true;
            return false;
        }
        DecodePictureHere(m, video, video_size, KeyAt(m, n));
    }
    return true;
}

// Reads the target frame and readies it for the next DecodeFrame: decoded
// again even when it is the frame just shown, and, after silent decoding,
// with the whole picture marked as changed (the map is then kept by
// DecodeFrame, as after a skipped blit), so that the first copy and the
// changed areas cover everything.
bool LandOn(Movie* m, uint32_t key, uint32_t target) {
    const bool video = m->picture.planes && m->picture.video_on;
    if (video && !DecodePicturesSilently(m, key, target)) return false;
    if (!ReadMovieFrame(m, target)) return false;
    m->current_frame = target;
    m->last_decoded_frame = 0;
    m->picture.rect_count = -1;
    m->clock.skip_this_blit = false;
    m->clock.last_blit_skipped = video && key < target;
    if (m->clock.last_blit_skipped) std::memset(m->picture.change_map, 1, m->picture.block_count);
    return true;
}

}  // namespace

uint32_t SeekMovie(Movie* m, uint32_t frame, int direction) {
    if (!m || m->frames == 0) return 0;
    if (m->done) return m->current_frame;
    const uint32_t now_at = m->current_frame;
    const uint32_t here = now_at >= 1 && now_at <= m->frames ? now_at : 1u;
    const uint32_t target = frame < 1 ? 1u : frame > m->frames ? m->frames : frame;
    if ((direction > 0 && target < here) || (direction < 0 && target > here)) return here;
    uint32_t key = target;
    while (key > 1 && !KeyAt(m, key)) --key;
    if (!KeyAt(m, key)) return here;  // a movie whose first frame is not a key frame

    if (m->source.io) m->source.io->SetCoreBusy(true);
    // Whatever was decoded or read ahead belongs to the old position.
    CancelVideoAhead(m, true);
    const bool sound = m->tracks.sound_on;
    const bool landed = LandOn(m, key, target);
    // Switched off at the new frame, every ring is primed with the silence
    // that the sound runs ahead by in the packets (frame 1 carries its own
    // lead), so the sound decoded from here on meets its pictures.
    if (sound) SetSoundOnOff(m, 0);
    if (sound) SetSoundOnOff(m, 1);
    // The clock starts now with the new frame due at once, so the devices,
    // which start at the next sound service, start with its picture.
    MovieClock& c = m->clock;
    c.Restart();
    c.clock_start = MovieNow();
    c.frames_at_clock_start = c.frames_decoded;
    c.late_step = 0;
    c.consecutive_late = 0;
    if (m->source.io) m->source.io->SetCoreBusy(false);
    return landed ? target : m->current_frame;
}

}  // namespace vemo
