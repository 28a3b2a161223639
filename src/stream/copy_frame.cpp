// CopyFrameToSurface: the late-blit decision on the movie's clock, the
// read-buffer service, then the conversion into the destination.
#include "movie_internal.h"
#include "vemo/platform.h"
#include "vemo/surface_format.h"
#include "vemo/pixel_convert.h"

namespace vemo {

namespace {

// The late-blit decision for the frame just decoded.
BlitDecision DecideBlit(Movie* m, const CopyOptions& options) {
    if (!m->played_count || m->rate_num == 0 || m->paused) return BlitDecision::kDraw;
    if (!m->clock_start) {
        m->clock_start = MovieNow();
        m->frames_at_clock_start = m->frames_decoded - 1;
        m->pause_offset = 0;
    }
    const uint32_t now = MovieNow();
    const uint32_t due = DueTime(m->frames_decoded - m->frames_at_clock_start, m->rate_num,
                                 m->rate_den, ClockRatio(m));
    const uint32_t elapsed = now - static_cast<uint32_t>(m->late_carry) - m->clock_start;
    if (elapsed < due) {
        m->last_blit_skipped = false;
        return BlitDecision::kDraw;
    }
    if (elapsed - due <= m->two_frame_time) {
        m->consecutive_late = 0;
        m->last_blit_skipped = false;
        return BlitDecision::kDraw;
    }
    m->consecutive_late += 1;
    if (m->consecutive_late > 3) {
        m->consecutive_late = 0;
        return BlitDecision::kDraw;
    }
    if (options.never_skip || (m->open_flags & kOpenNeverSkipBlits))
        return BlitDecision::kDrawLate;
    m->skip_this_blit = true;
    m->last_blit_skipped = true;
    m->skipped_blits += 1;
    return BlitDecision::kSkip;
}

void ReadBufferService(Movie* m, const CopyOptions& options) {
    if (options.no_read_service || m->preloaded || !m->io || m->io->ChunkInProgress()) return;
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

}  // namespace

int CopyFrameToSurface(Movie* m, uint8_t* destination, int32_t pitch, uint32_t destination_height,
                       uint32_t destination_x, uint32_t destination_y, uint32_t source_left,
                       uint32_t source_top, uint32_t source_width, uint32_t source_height,
                       uint32_t flags) {
    if (!m || !destination || !m->planes) return 0;
    flags |= m->open_flags & kCopyMovieFlagsMask;
    const CopyOptions options = CopyOptions::FromFlags(flags);
    FrameSource source;
    source.planes = m->planes;
    source.movie_width = m->width;
    source.movie_height = m->height;
    source.coded_width = m->header_width;
    source.coded_height = m->header_height;
    source.change_map = m->change_map;
    source.change_map_stride = m->blocks_across;
    source.unchanged_areas = m->unchanged_count;
    source.full_copy_threshold = m->full_copy_threshold;
    CopyRequest request;
    request.destination = destination;
    request.pitch = pitch;
    request.destination_height = destination_height;
    request.destination_x = destination_x;
    request.destination_y = destination_y;
    request.source_left = source_left;
    request.source_top = source_top;
    request.source_width = source_width;
    request.source_height = source_height;
    request.flags = flags;
    if (ScaleSourceRect(source, request).empty() || m->skip_this_blit)
        return m->skip_this_blit ? 1 : 0;
    if (m->io) m->io->SetCoreBusy(true);
    m->copy_in_progress = true;
    const BlitDecision decision = DecideBlit(m, options);
    if (decision == BlitDecision::kSkip) {
        m->copy_in_progress = false;
        if (m->io) m->io->SetCoreBusy(false);
        return 1;
    }
    ReadBufferService(m, options);
    m->last_copy_flags = flags;
    static ConverterState state;
    ConvertFrame(state, source, request);
    // What was skipped has now been drawn: the next frame's changes start afresh.
    m->last_blit_skipped = false;
    m->copy_in_progress = false;
    if (m->io) m->io->SetCoreBusy(false);
    return decision == BlitDecision::kDrawLate ? 1 : 0;
}

}  // namespace vemo
