// Decoding the picture on more than one thread: the worker that decodes the
// next frame while the current one is shown, the read-ahead of its packet and
// the helper that splits a frame's planes over two threads.
#include <chrono>
#include <cstring>
#include <new>

#include "movie_internal.h"

namespace vemo {

VideoAhead::~VideoAhead() {
    if (worker) worker->Wait();
}

void SetUpDecodeThreads(Movie* m, uint32_t threads) {
    if (threads == 0) threads = MachineCores() >= 2 ? 2 : 1;
    MoviePicture& pic = m->picture;
    if (threads < 2 || !pic.planes) return;
    const bool two_buffers = pic.planes->buffer_count == 2;
    uint64_t bytes = sizeof(VideoAhead);
    try {
        auto a = std::make_unique<VideoAhead>();
        if (two_buffers) {
            a->map.assign(size_t{pic.block_count} + 16, 0);
            bytes += a->map.size();
            if (!m->source.preloaded) {
                const uint32_t largest = m->source.largest_frame;
                a->spare_block.reset(
                    static_cast<uint8_t*>(AllocateLibraryMemory(largest ? largest : 1)));
                if (!a->spare_block) return;
                a->spare = a->spare_block.get();
                bytes += largest;
            }
            a->worker = std::make_unique<HelperThread>();
        }
        if (!two_buffers || threads >= 3) {
            a->planes = std::make_unique<PlaneHelper>();
            if (!a->planes->Open(m->width, pic.block_count)) return;
            bytes += a->planes->MemoryBytes();
        }
        a->threads = 1 + (a->worker ? 1 : 0) + (a->planes ? 1 : 0);
        m->ahead = std::move(a);
    } catch (...) {
        return;
    }
    m->stats.total_memory += static_cast<uint32_t>(bytes);
}

namespace {

// Frame n's packet, leaving the current one alone: inside the preloaded
// bytes, or read into the spare buffer.
bool PacketAhead(Movie* m, uint32_t n, const uint8_t** packet, uint32_t* size) {
    FrameFeed& f = m->source;
    VideoAhead& a = *m->ahead;
    const uint32_t begin = IndexOffset(f.index[n - 1]);
    const uint32_t bytes = IndexOffset(f.index[n]) - begin;
    if (f.preloaded) {
        const uint32_t at = begin - f.first_frame_offset;
        if (at > f.preload_valid || bytes > f.preload_valid - at) return false;
        *packet = f.preload_base + at;
        *size = bytes;
        return true;
    }
    if (!a.spare || a.read_frame || bytes > f.largest_frame) return false;
    // A read that fails is made again (and its failure met) by NextFrame.
    const uint32_t start = MovieNow();
    const bool read = f.io->ReadFrame(n - 1, begin, a.spare, bytes) == bytes;
    // The read is counted as reading (by the input), not as the caller's
    // blitting around it.
    if (m->stats.decode_end_pending) m->stats.decode_end_time += MovieNow() - start;
    if (!read) return false;
    a.read_frame = n;
    a.read_size = bytes;
    *packet = a.spare;
    *size = bytes;
    return true;
}

}  // namespace

void StartVideoAhead(Movie* m, bool map_kept) {
    if (!m->ahead) return;
    VideoAhead& a = *m->ahead;
    MoviePicture& pic = m->picture;
    if (!a.worker || a.frame || m->done || !pic.planes || !pic.video_on) return;
    if (m->current_frame == 0 || m->current_frame > m->frames) return;
    const bool decoded = m->last_decoded_frame == m->current_frame;
    const uint32_t n = !decoded                        ? m->current_frame
                       : m->current_frame >= m->frames ? 1
                                                       : m->current_frame + 1;
    const uint8_t* packet = m->source.packet;
    uint32_t size = m->source.packet_size;
    if (decoded && !PacketAhead(m, n, &packet, &size)) return;
    const uint8_t* video = nullptr;
    uint32_t video_size = 0;
    if (!packet || !FindVideoPart(packet, size, m->source.track_count, &video, &video_size)) return;

    a.frame = n;
    a.packet = packet;
    a.packet_size = size;
    a.map_kept = map_kept;
    a.shadow = *pic.planes;
    if (map_kept)
        std::memcpy(a.map.data(), pic.change_map, a.map.size());
    else
        std::memset(a.map.data(), 0, a.map.size());
    const bool key = IsKeyFrame(m->source.index[n - 1]);
    const VideoDecodeOptions options = VideoDecodeOptions::For(m->open_flags, m->header_flags);
    auto job = [m, video, video_size, key, options] {
        VideoAhead& w = *m->ahead;
        const MoviePicture& p = m->picture;
        const auto start = std::chrono::steady_clock::now();
        w.unchanged = DecodeFrameVideoOnThreads(w.planes.get(), &w.shadow, w.map.data(),
                                                p.blocks_across, video, video_size, key, p.bundles,
                                                options.OpenFlags(), options.HeaderFlags());
        w.decode_us = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                std::chrono::steady_clock::now() - start)
                                                .count());
    };
    if (!a.worker->Run(job)) {
        // No thread to be had: the frames are decoded in DecodeFrame.
        a.worker.reset();
        a.frame = 0;
    }
}

bool TakeVideoAhead(Movie* m) {
    if (!m->ahead || !m->ahead->frame) return false;
    VideoAhead& a = *m->ahead;
    a.worker->Wait();
    const bool usable = a.frame == m->current_frame && a.packet == m->source.packet &&
                        a.packet_size == m->source.packet_size &&
                        a.map_kept == m->clock.last_blit_skipped;
    a.frame = 0;
    if (!usable) return false;
    MoviePicture& pic = m->picture;
    pic.planes->current = a.shadow.current;
    std::memcpy(pic.change_map, a.map.data(), a.map.size());
    pic.unchanged_count = a.unchanged;
    // The video time is the time spent decoding, on whichever thread.
    a.us_carry += a.decode_us;
    m->stats.video_time += a.us_carry / 1000;
    a.us_carry %= 1000;
    return true;
}

void CancelVideoAhead(Movie* m, bool drop_read) {
    if (!m->ahead) return;
    VideoAhead& a = *m->ahead;
    if (a.worker) a.worker->Wait();
    a.frame = 0;
    if (drop_read) a.read_frame = 0;
}

bool UseFrameReadAhead(Movie* m, uint32_t n) {
    if (!m->ahead) return false;
    VideoAhead& a = *m->ahead;
    const bool held = a.read_frame != 0 && a.read_frame == n;
    if (held) {
        std::swap(m->source.frame_buffer, a.spare);
        m->source.packet = m->source.frame_buffer;
        m->source.packet_size = a.read_size;
    }
    a.read_frame = 0;
    return held;
}

uint32_t DecodePictureHere(Movie* m, const uint8_t* video, uint32_t size, bool key) {
    CancelVideoAhead(m, false);
    MoviePicture& p = m->picture;
    const VideoDecodeOptions options = VideoDecodeOptions::For(m->open_flags, m->header_flags);
    return DecodeFrameVideoOnThreads(m->ahead ? m->ahead->planes.get() : nullptr, p.planes,
                                     p.change_map, p.blocks_across, video, size, key, p.bundles,
                                     options.OpenFlags(), options.HeaderFlags());
}

}  // namespace vemo
