// Frame planes, bundle buffers and the decoding of a frame's video part.
#include <algorithm>
#include <cstring>

#include "vemo/container.h"
#include "vemo/decode_threads.h"
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
    // Samples start as zeros: the block comes cleared (fresh pages from the
    // system for planes of any size, so nothing is cleared twice).
    FramePlanes* planes = nullptr;
    if (!pool.CommitZeroed(&planes)) return nullptr;
    *planes = record;
    for (uint32_t b = 0; b < buffers; ++b)
        for (int p = 0; p < 4; ++p) {
            if (!record.buffer[b][p].wanted) continue;
            const bool luma = p == kPlaneY || p == kPlaneAlpha;
            planes->buffer[b][p].samples = addresses[b][p];
            planes->buffer[b][p].stride = luma ? luma_w : chroma_w;
        }
    return planes;
}

void FreeFramePlanes(FramePlanes* planes) {
    FreeLibraryMemory(planes);
}

namespace {

// The buffers of one frame decode and what every plane of it shares.
struct FrameContext {
    const FramePlanes* planes = nullptr;
    const PlaneDescriptor* cur = nullptr;   // written
    const PlaneDescriptor* prev = nullptr;  // predicted from
    video::PlaneJob base;                   // map geometry and open flags
};

FrameContext StartFrame(FramePlanes* planes, uint8_t* change_map, uint32_t map_stride,
                        uint32_t open_flags) {
    const uint32_t previous = planes->current & 1;
    if (planes->buffer[previous ^ 1][kPlaneY].samples) planes->current = previous ^ 1;
    FrameContext c;
    c.planes = planes;
    c.cur = planes->buffer[planes->current];
    c.prev = planes->buffer[previous];
    c.base.map = change_map;
    c.base.map_stride = map_stride;
    c.base.map_columns = std::min(map_stride, (planes->luma_width + 15) / 16);
    c.base.map_rows = (planes->luma_height + 15) / 16;
    c.base.open_flags = open_flags;
    return c;
}

// One plane (kind 1 luma or alpha, 2 chroma) from bytes at data, marking
// map, with the given bundle buffers.
video::PlaneOutcome DecodeOnePlane(const FrameContext& c, uint8_t* map,
                                   const BundleBuffers& bundles, int plane, const uint8_t* data,
                                   uint32_t bytes, int kind) {
    video::PlaneJob job = c.base;
    job.map = map;
    job.bundles = &bundles;
    job.data = data;
    job.size = bytes;
    job.dst = c.cur[plane].samples;
    job.ref = c.prev[plane].samples;
    const bool luma = kind == 1;
    job.width = luma ? c.planes->luma_width : c.planes->chroma_width;
    job.height = luma ? c.planes->luma_height : c.planes->chroma_height;
    job.stride = c.cur[plane].stride;
    job.kind = kind;
    if (!job.dst || !job.ref || c.prev[plane].stride != job.stride) return video::PlaneOutcome{};
    return video::DecodePlane(job);
}

// Where the planes of a version "i" video part begin: the alpha plane (when
// the file has one) and the luma plane at sizes given in the part, the
// chroma planes after the luma size's count.
struct SizedLayout {
    uint32_t alpha_size = 0;  // the alpha size field (0 without alpha in the file)
    uint32_t luma_at = 0;     // offset of the luma size field
    uint32_t luma_size = 0;   // the luma size field
};

bool ReadSizedLayout(const uint8_t* video, uint32_t size, uint32_t header_flags,
                     SizedLayout* layout) {
    uint32_t offset = 0;
    if (header_flags & kVideoAlpha) {
        const uint32_t s = size >= 4 ? ReadLe32(video) : 0;
        if (s < 4 || s > size) return false;
        layout->alpha_size = s;
        offset = s;
    }
    const uint32_t t = size - offset >= 4 ? ReadLe32(video + offset) : 0;
    if (t < 4 || t > size - offset) return false;
    layout->luma_at = offset;
    layout->luma_size = t;
    return true;
}

}  // namespace

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
    const FrameContext c = StartFrame(planes, change_map, map_stride, open_flags);
    auto decode = [&](int plane, const uint8_t* data, uint32_t bytes, int kind) {
        const video::PlaneOutcome outcome =
            DecodeOnePlane(c, change_map, bundles, plane, data, bytes, kind);
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

// ---------------------------------------------------------------- on two threads

uint32_t MachineCores() {
    const unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

HelperThread::~HelperThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();  // a job handed over still runs first
}

bool HelperThread::Run(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { Body(); });
        } catch (...) {
            return false;
        }
    }
    idle_.wait(lock, [this] { return !has_job_; });
    job_ = std::move(job);
    has_job_ = true;
    wake_.notify_one();
    return true;
}

void HelperThread::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !has_job_; });
}

void HelperThread::Body() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return has_job_ || stopping_; });
        if (!has_job_) return;  // stopping with nothing left to run
        std::function<void()> job = std::move(job_);
        lock.unlock();
        job();
        lock.lock();
        job_ = nullptr;
        has_job_ = false;
        idle_.notify_all();
    }
}

PlaneHelper::~PlaneHelper() {
    thread.Wait();
    FreeBundleBuffers(&bundles);
}

bool PlaneHelper::Open(uint32_t played_width, uint32_t map_bytes) {
    FreeBundleBuffers(&bundles);
    if (!AllocateBundleBuffers(played_width, &bundles)) return false;
    bundle_bytes = 0;
    for (int i = 0; i < kBundleCount; ++i) bundle_bytes += BundleBufferBytes(played_width, i);
    try {
        luma_map.assign(map_bytes, 0);
        chroma_map.assign(map_bytes, 0);
        before_cb.assign(map_bytes, 0);
    } catch (...) {
        FreeBundleBuffers(&bundles);
        return false;
    }
    return true;
}

uint64_t PlaneHelper::MemoryBytes() const {
    return uint64_t{bundle_bytes} + luma_map.size() + chroma_map.size() + before_cb.size() +
           plane_copy.capacity();
}

namespace {

bool SameCapacities(const BundleBuffers& a, const BundleBuffers& b) {
    for (int i = 0; i < kBundleCount; ++i)
        if (!a.buffer[i] || a.capacity[i] != b.capacity[i]) return false;
    return true;
}

// Areas inside the picture (the rows and columns the planes mark) whose map
// offset satisfies pred.
template <typename Pred>
uint32_t CountAreas(const video::PlaneJob& geometry, Pred pred) {
    uint32_t n = 0;
    for (uint32_t r = 0; r < geometry.map_rows; ++r)
        for (uint32_t col = 0; col < geometry.map_columns; ++col)
            if (pred(size_t{r} * geometry.map_stride + col)) ++n;
    return n;
}

// The alpha and luma planes of a sized layout, marking the helper's luma map.
uint32_t DecodeLumaPlanes(const FrameContext& c, PlaneHelper& h, const uint8_t* video,
                          const SizedLayout& layout, uint32_t open_flags, uint32_t header_flags) {
    uint32_t faults = 0;
    if ((header_flags & kVideoAlpha) && (open_flags & kVideoAlpha))
        faults |= DecodeOnePlane(c, h.luma_map.data(), h.bundles, kPlaneAlpha, video + 4,
                                 layout.alpha_size - 4, 1)
                      .faults;
    faults |= DecodeOnePlane(c, h.luma_map.data(), h.bundles, kPlaneY, video + layout.luma_at + 4,
                             layout.luma_size - 4, 1)
                  .faults;
    return faults;
}

}  // namespace

// The second chroma plane counts the areas no plane changed, so its count
// depends on the marks of every plane before it. It is decoded on a private
// map holding only the first chroma plane's marks; the areas it left
// unmarked are then exactly its skip blocks there unless it met blocks that
// mark nothing (damaged data) or ended early, which the count tells. Only in
// that case it is decoded again, once the other planes' marks are in.
uint32_t DecodeFrameVideoOnThreads(PlaneHelper* h, FramePlanes* planes, uint8_t* change_map,
                                   uint32_t map_stride, const uint8_t* video, uint32_t size,
                                   bool key_frame, const BundleBuffers& bundles,
                                   uint32_t open_flags, uint32_t header_flags,
                                   VideoReport* report) {
    SizedLayout layout;
    const size_t map_bytes = planes ? size_t{map_stride} * ((planes->luma_height + 15) / 16) : 0;
    if (!h || !planes || !change_map || !video ||
        (open_flags & (kVideoOldVersion | kVideoGrayscale)) || h->luma_map.size() < map_bytes ||
        !SameCapacities(h->bundles, bundles) ||
        !ReadSizedLayout(video, size, header_flags, &layout))
        return DecodeFrameVideo(planes, change_map, map_stride, video, size, key_frame, bundles,
                                open_flags, header_flags, report);
    const FrameContext c = StartFrame(planes, change_map, map_stride, open_flags);
    std::fill_n(h->luma_map.begin(), map_bytes, uint8_t{0});
    std::fill_n(h->chroma_map.begin(), map_bytes, uint8_t{0});
    uint32_t luma_faults = 0;
    auto luma_job = [&] {
        luma_faults = DecodeLumaPlanes(c, *h, video, layout, open_flags, header_flags);
    };
    const bool on_helper = h->thread.Run(luma_job);
    if (!on_helper) luma_job();

    uint8_t* chroma = h->chroma_map.data();
    uint32_t next = layout.luma_at + layout.luma_size;
    const video::PlaneOutcome cr =
        DecodeOnePlane(c, chroma, bundles, kPlaneCr, video + next, size - next, 2);
    next = static_cast<uint32_t>(std::min<uint64_t>(size, next + cr.next_offset));
    std::copy_n(chroma, map_bytes, h->before_cb.begin());
    uint8_t* cb_samples = c.cur[kPlaneCb].samples;
    const bool in_place = cb_samples && cb_samples == c.prev[kPlaneCb].samples;
    const size_t cb_bytes = size_t{c.cur[kPlaneCb].stride} * planes->chroma_height;
    bool cb_now = true;
    if (in_place) {
        try {
            h->plane_copy.assign(cb_samples, cb_samples + cb_bytes);
        } catch (...) {
            cb_now = false;
        }
    }
    video::PlaneOutcome cb;
    if (cb_now) cb = DecodeOnePlane(c, chroma, bundles, kPlaneCb, video + next, size - next, 2);
    if (on_helper) h->thread.Wait();

    const uint8_t* before = h->before_cb.data();
    const uint8_t* luma = h->luma_map.data();
    const bool exact = cb_now && CountAreas(c.base, [&](size_t i) {
                                     return !before[i] && !chroma[i];
                                 }) == cb.unchanged;
    uint32_t unchanged;
    if (exact) {
        unchanged = CountAreas(c.base, [&](size_t i) {
            return !before[i] && !chroma[i] && !luma[i] && !change_map[i];
        });
        for (size_t i = 0; i < map_bytes; ++i) change_map[i] |= luma[i] | chroma[i];
    } else {
        if (cb_now && in_place) std::copy_n(h->plane_copy.data(), cb_bytes, cb_samples);
        for (size_t i = 0; i < map_bytes; ++i) change_map[i] |= luma[i] | before[i];
        cb = DecodeOnePlane(c, change_map, bundles, kPlaneCb, video + next, size - next, 2);
        unchanged = cb.unchanged;
    }
    if (report) report->faults |= luma_faults | cr.faults | cb.faults;
    return unchanged;
}

}  // namespace vemo
