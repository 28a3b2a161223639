// CopyFrameToSurface: the late-blit decision on the movie's clock, the
// read-buffer service, then the conversion into the destination.
#include "movie_internal.h"
#include "vemo/pixel_convert.h"
#include "vemo/surface_format.h"

namespace vemo {

int CopyFrameToSurface(Movie* m, uint8_t* destination, int32_t pitch, uint32_t destination_height,
                       uint32_t destination_x, uint32_t destination_y, uint32_t source_left,
                       uint32_t source_top, uint32_t source_width, uint32_t source_height,
                       uint32_t flags) {
    if (!m || !destination || !m->picture.planes) return 0;
    flags |= m->open_flags & kCopyMovieFlagsMask;
    const CopyOptions options = CopyOptions::FromFlags(flags);
    FrameSource source;
    source.planes = m->picture.planes;
    source.movie_width = m->width;
    source.movie_height = m->height;
    source.coded_width = m->header_width;
    source.coded_height = m->header_height;
    source.change_map = m->picture.change_map;
    source.change_map_stride = m->picture.blocks_across;
    source.unchanged_areas = m->picture.unchanged_count;
    source.full_copy_threshold = m->picture.full_copy_threshold;
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
    if (ScaleSourceRect(source, request).empty() || m->clock.skip_this_blit)
        return m->clock.skip_this_blit ? 1 : 0;
    if (m->source.io) m->source.io->SetCoreBusy(true);
    m->picture.copy_in_progress = true;
    const bool never_skip = options.never_skip || (m->open_flags & kOpenNeverSkipBlits);
    const FrameTiming timing =
        m->clock.Decide(TimingQuestion::kBlit, MovieNow(), ClockRatio(m), m->tracks.count != 0,
                        m->tracks.sound_on, never_skip);
    if (timing == FrameTiming::kSkip) {
        // The next frame's picture goes onto this frame's changes.
        StartVideoAhead(m, true);
        m->stats.skipped_blits += 1;
        m->picture.copy_in_progress = false;
        if (m->source.io) m->source.io->SetCoreBusy(false);
        return 1;
    }
    if (!options.no_read_service) PumpInput(m, PumpReason::kAhead);
    // The next frame is decoded on the worker while this one is converted.
    StartVideoAhead(m, false);
    m->picture.last_copy_flags = flags;
    static ConverterState state;
    ConvertFrame(state, source, request);
    // What was skipped has now been drawn: the next frame's changes start afresh.
    m->clock.last_blit_skipped = false;
    m->picture.copy_in_progress = false;
    if (m->source.io) m->source.io->SetCoreBusy(false);
    return timing == FrameTiming::kDrawLate ? 1 : 0;
}

}  // namespace vemo
