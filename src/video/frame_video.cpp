// Frame planes, bundle buffers and the decoding of a frame's video part.
#include <algorithm>
#include <cstring>

#include "vemo/container.h"
#include "video_internal.h"

namespace vemo {

namespace {

bool IsWordBundle(int kind) {
    return kind == kBundleIntraDc || kind == kBundleInterDc;
}

}  // namespace

uint64_t BundleCountBasis(uint64_t width, int kind) {
    const uint64_t bw = width / 8;
    switch (kind) {
        case kBundleSubBlockTypes:
            return width / 16;
        case kBundleColours:
            return bw * 64;
        case kBundlePatterns:
            return bw * 8;
        case kBundleRuns:
            return bw * 48;
        default:
            return bw;
    }
}

uint32_t BundleBufferBytes(uint32_t played_width, int kind) {
    if (kind < 0 || kind >= kBundleCount) return 0;
    const uint64_t width = (static_cast<uint64_t>(played_width) + 15) & ~static_cast<uint64_t>(15);
    const uint64_t c = BundleCountBasis(width, kind);
    uint64_t bytes = IsWordBundle(kind) ? 2 * c + 1024 : c + 512;
    bytes = (bytes + 3) & ~static_cast<uint64_t>(3);
    return bytes > 0x40000000u ? 0 : static_cast<uint32_t>(bytes);  // absurd widths get nothing
}

void RequestBundleBuffers(BlockPool* pool, uint32_t played_width, BundleBuffers* bundles) {
    for (int i = 0; i < kBundleCount; ++i) {
        const uint32_t bytes = BundleBufferBytes(played_width, i);
        bundles->buffer[i] = nullptr;
        bundles->capacity[i] = IsWordBundle(i) ? bytes / 2 : bytes;
        pool->Request(&bundles->buffer[i], bytes);
    }
}

bool AllocateBundleBuffers(uint32_t played_width, BundleBuffers* bundles) {
    *bundles = BundleBuffers{};
    uint64_t total = 0;
    uint32_t bytes[kBundleCount];
    for (int i = 0; i < kBundleCount; ++i) {
        bytes[i] = BundleBufferBytes(played_width, i);
        if (!bytes[i]) return false;
        total += (bytes[i] + 31u) & ~31u;
    }
    if (total > kLargestLibraryBlock) return false;
    auto* block = static_cast<uint8_t*>(AllocateLibraryMemory(static_cast<size_t>(total)));
    if (!block) return false;
    size_t offset = 0;
    for (int i = 0; i < kBundleCount; ++i) {
        bundles->buffer[i] = block + offset;
        bundles->capacity[i] = IsWordBundle(i) ? bytes[i] / 2 : bytes[i];
        offset += (bytes[i] + 31u) & ~31u;
    }
    return true;
}

void FreeBundleBuffers(BundleBuffers* bundles) {
    FreeLibraryMemory(bundles->buffer[0]);
    *bundles = BundleBuffers{};
}

FramePlanes* CreateFramePlanes(uint32_t width, uint32_t height, bool all_key_frames,
                               uint32_t open_flags) {
    if (width == 0 || height == 0 || width > 0x10000 || height > 0x10000) return nullptr;
    const uint32_t luma_w = LumaPlaneWidth(width);
    const uint32_t luma_h = RoundUp8(height);
    const uint32_t chroma_w = ChromaPlaneWidth(width);
    const uint32_t chroma_h = RoundUp8((height + 1) / 2);
    const uint64_t luma_bytes = static_cast<uint64_t>(luma_w) * luma_h;
    const uint64_t chroma_bytes = static_cast<uint64_t>(chroma_w) * chroma_h;
    const uint32_t buffers = all_key_frames ? 1 : 2;
    const uint64_t per_buffer =
        luma_bytes * ((open_flags & kVideoAlpha) ? 2 : 1) + 2 * chroma_bytes;
    if (per_buffer * buffers + 64 * 1024 > kLargestLibraryBlock) return nullptr;

    FramePlanes record{};
    record.buffer_count = buffers;
    record.luma_width = luma_w;
    record.luma_height = luma_h;
    record.chroma_width = chroma_w;
    record.chroma_height = chroma_h;
    record.current = 0;
    for (uint32_t b = 0; b < buffers; ++b) {
        record.buffer[b][kPlaneY].wanted = 1;
        record.buffer[b][kPlaneCr].wanted = 1;
        record.buffer[b][kPlaneCb].wanted = 1;
        record.buffer[b][kPlaneAlpha].wanted = (open_flags & kVideoAlpha) ? 1 : 0;
    }
    BlockPool pool;
    uint8_t* addresses[2][4] = {};
    for (uint32_t b = 0; b < buffers; ++b)
        for (int p = 0; p < 4; ++p) {
            if (!record.buffer[b][p].wanted) continue;
            const bool luma = p == kPlaneY || p == kPlaneAlpha;
            pool.Request(&addresses[b][p], static_cast<size_t>(luma ? luma_bytes : chroma_bytes));
        }
    const size_t planes_total = pool.total();
    FramePlanes* planes = nullptr;
    if (!pool.Commit(&planes)) return nullptr;
    *planes = record;
    for (uint32_t b = 0; b < buffers; ++b)
        for (int p = 0; p < 4; ++p) {
            if (!record.buffer[b][p].wanted) continue;
            const bool luma = p == kPlaneY || p == kPlaneAlpha;
            planes->buffer[b][p].samples = addresses[b][p];
            planes->buffer[b][p].stride = luma ? luma_w : chroma_w;
        }
    // Samples start as zeros (the pool block is not cleared for us).
    auto* first = reinterpret_cast<uint8_t*>(planes) +
                  ((sizeof(FramePlanes) + 31) & ~static_cast<size_t>(31));
    std::memset(first, 0, planes_total);
    return planes;
}

void FreeFramePlanes(FramePlanes* planes) {
    FreeLibraryMemory(planes);
}

uint32_t DecodeFrameVideo(FramePlanes* planes, uint8_t* change_map, uint32_t map_stride,
                          const uint8_t* video, uint32_t size, bool key_frame,
                          const BundleBuffers& bundles, uint32_t open_flags, uint32_t header_flags,
                          VideoReport* report) {
    (void)key_frame;  // block types carry everything
    uint32_t faults = 0;
    auto finish = [&](uint32_t unchanged) {
        if (report) report->faults |= faults;
        return unchanged;
    };
    if (!planes || (!video && size)) return finish(0);
    const uint32_t previous = planes->current & 1;
    if (planes->buffer[previous ^ 1][kPlaneY].samples) planes->current = previous ^ 1;
    PlaneDescriptor* cur = planes->buffer[planes->current];
    const PlaneDescriptor* prev = planes->buffer[previous];

    video::PlaneJob job;
    job.map = change_map;
    job.map_stride = map_stride;
    job.map_columns = std::min(map_stride, (planes->luma_width + 15) / 16);
    job.map_rows = (planes->luma_height + 15) / 16;
    job.bundles = &bundles;
    job.open_flags = open_flags;
    auto decode = [&](int plane, const uint8_t* data, uint32_t bytes, int kind) {
        job.data = data;
        job.size = bytes;
        job.dst = cur[plane].samples;
        job.ref = prev[plane].samples;
        const bool luma = kind == 1;
        job.width = luma ? planes->luma_width : planes->chroma_width;
        job.height = luma ? planes->luma_height : planes->chroma_height;
        job.stride = cur[plane].stride;
        job.kind = kind;
        if (!job.dst || !job.ref || prev[plane].stride != job.stride) return video::PlaneOutcome{};
        video::PlaneOutcome outcome = video::DecodePlane(job);
        faults |= outcome.faults;
        return outcome;
    };

    uint32_t offset = 0;
    if (header_flags & kVideoAlpha) {
        const uint32_t s = size >= 4 ? ReadLe32(video) : 0;
        if (s < 4 || s > size) {
            faults |= kFaultSizeField;
            return finish(0);
        }
        if (open_flags & kVideoAlpha) decode(kPlaneAlpha, video + 4, s - 4, 1);
        offset = s;
    }
    uint32_t next;
    video::PlaneOutcome luma;
    if (!(open_flags & kVideoOldVersion)) {
        const uint32_t t = size - offset >= 4 ? ReadLe32(video + offset) : 0;
        if (t < 4 || t > size - offset) {
            faults |= kFaultSizeField;
            return finish(0);
        }
        luma = decode(kPlaneY, video + offset + 4, t - 4, 1);
        next = offset + t;
    } else {
        luma = decode(kPlaneY, video + offset, size - offset, 1);
        next = static_cast<uint32_t>(std::min<uint64_t>(size, offset + luma.next_offset));
    }
    if (open_flags & kVideoGrayscale) return finish(luma.unchanged >> 2);
    const video::PlaneOutcome cr = decode(kPlaneCr, video + next, size - next, 2);
    next = static_cast<uint32_t>(std::min<uint64_t>(size, next + cr.next_offset));
    const video::PlaneOutcome cb = decode(kPlaneCb, video + next, size - next, 2);
    return finish(cb.unchanged);
}

}  // namespace vemo
