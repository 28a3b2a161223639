// Converter selection: the entry list, the scale-mode wrappers, the table
// path's lookup tables and the choice of arithmetic path.
#include <array>
#include <atomic>
#include <cstring>

#include "pixels_internal.h"
#include "vemo/cpu.h"

namespace vemo {

namespace detail {
GroupKernel ScalarRgb32();
GroupKernel ScalarRgb32Alpha();
GroupKernel ScalarRgb16();
GroupKernel ScalarRgb16Alpha();
GroupKernel ScalarPalette();
GroupKernel ScalarYuy2();
GroupKernel ScalarUyvy();
RowsKernel ScalarYuy2Rows();
RowsKernel ScalarUyvyRows();
SpanConverter Yv12Double();
}  // namespace detail

// ---------------------------------------------------------------- tables

void BuildClampTables(ConverterStateData& s, bool byte_form) {
    const PixelLayout& l = s.layout;
    uint32_t shift = 0;
    for (int comp = 0; comp < 3; ++comp) shift = l.shift[comp] > shift ? l.shift[comp] : shift;
    int key[3];
    for (int comp = 0; comp < 3; ++comp)
        key[comp] = static_cast<int>(l.position[comp]) - l.shift[comp] + static_cast<int>(shift);
    // The byte form also depends on the shifts themselves; keep it apart.
    if (byte_form) key[0] += 1000;
    s.clamp_shift = shift;
    if (std::memcmp(key, s.clamp_key, sizeof key) == 0 && s.clamp_builds) return;
    std::memcpy(s.clamp_key, key, sizeof key);
    ++s.clamp_builds;
    for (int i = -256; i < 512; ++i) {
        const int v = i < 0 ? 0 : (i > 255 ? 255 : i);
        s.clamp_wide[i + 256] = static_cast<uint32_t>(v) >> shift;
        for (int comp = 0; comp < 3; ++comp)
            s.clamp_byte[comp][i + 256] =
                static_cast<uint8_t>(((v >> l.shift[comp]) << l.position[comp]) & 0xFF);
    }
}

// ---------------------------------------------------------------- kernels

const PackedKernels& ScalarPackedKernels() {
    static const PackedKernels k = [] {
        PackedKernels p;
        p.rgb32 = detail::ScalarRgb32();
        p.rgb32_alpha = detail::ScalarRgb32Alpha();
        p.rgb16 = detail::ScalarRgb16();
        p.rgb16_alpha = detail::ScalarRgb16Alpha();
        p.palette = detail::ScalarPalette();
        p.yuy2 = detail::ScalarYuy2();
        p.uyvy = detail::ScalarUyvy();
        p.yuy2_rows = detail::ScalarYuy2Rows();
        p.uyvy_rows = detail::ScalarUyvyRows();
        return p;
    }();
    return k;
}

void FillPackedKernels(PackedKernels& table, uint32_t flags) {
    table = ScalarPackedKernels();
#if defined(__i386__) || defined(__x86_64__)
    if (!(flags & kCpuSse2)) return;
    InstallSse2PackedKernels(table);
    if (!(flags & kCpuAvx2)) return;
    InstallAvx2PackedKernels(table);
    if (!(flags & kCpuAvx512)) return;
    InstallAvx512PackedKernels(table);
#else
    (void)flags;
#endif
}

namespace {

CpuKernelTable<PackedKernels, FillPackedKernels> g_packed_kernels;
std::atomic<PixelPath> g_path{PixelPath::kAuto};

}  // namespace

const PackedKernels& ActivePackedKernels() {
    return g_packed_kernels.Get();
}

void SetPixelPath(PixelPath path) {
    g_path.store(path);
}

PixelPath ResolvedPixelPath() {
    const PixelPath forced = g_path.load();
    if (forced != PixelPath::kAuto) return forced;
    return (CpuFeatures() & kCpuMmx) ? PixelPath::kPacked : PixelPath::kTable;
}

// ---------------------------------------------------------------- selection

namespace {

// Height doubling of converters that write the destination directly: the
// span is converted again one destination row lower; the positions after the
// call are those of the first run.
uint32_t ConvertTwice(ConversionContext& c, uint32_t count, uint32_t column) {
    const ConversionContext start = c;
    c.state->base_span(c, count, column);
    const ConversionContext after = c;
    c = start;
    c.destination += c.row_step;
    if (c.chroma_destination1) c.chroma_destination1 += c.chroma_twice_step;
    if (c.chroma_destination2) c.chroma_destination2 += c.chroma_twice_step;
    const uint32_t left = c.state->base_span(c, count, column);
    c = after;
    return left;
}

bool ConverterEntry(ConverterStateData& s, int entry, uint32_t format, bool alpha) {
    const bool packed = entry <= 6;
    switch (packed ? entry : entry - 6) {
        case 1:  // 32-bit with alpha
            if ((format != 5 && format != 6) || !alpha) return false;
            SetupRgb(s, format, true, packed);
            return true;
        case 2:  // 24- and 32-bit
            if (format < 1 || format > 6) return false;
            SetupRgb(s, format, false, packed);
            return true;
        case 3:  // 16-bit with alpha
            if ((format != 7 && format != 8) || !alpha) return false;
            SetupRgb(s, format, true, packed);
            return true;
        case 4:  // 16-bit
            if (format < 7 || format > 12) return false;
            SetupRgb(s, format, false, packed);
            return true;
        case 5:  // YUY2, UYVY
            if (format != 13 && format != 14) return false;
            SetupYuv(s, format, packed);
            return true;
        case 6:
            if (packed) {  // 8-bit palettized
                if (format != 0) return false;
                SetupPalette(s, true);
                return true;
            }
            if (format != 15) return false;  // entry 12: YV12
            SetupYv12(s);
            return true;
        case 7:  // entry 13: 8-bit palettized, table arithmetic
            if (format != 0) return false;
            SetupPalette(s, false);
            return true;
        default:
            return false;
    }
}

}  // namespace

ConverterState::ConverterState() : data_(std::make_unique<ConverterStateData>()) {}
ConverterState::~ConverterState() = default;

uint32_t ConverterState::clamp_table_builds() const {
    return data_->clamp_builds;
}

int ConverterState::SelectConverter(uint32_t flags, bool frame_has_alpha) {
    ConverterStateData& s = *data_;
    const PixelPath path = path_ == PixelPath::kAuto ? ResolvedPixelPath() : path_;
    const uint32_t format = flags & kCopyFormatMask;
    s.entry = 0;
    s.span = s.base_span = nullptr;
    s.store = s.widen = s.inner_store = nullptr;
    s.group = nullptr;
    s.rows = nullptr;
    for (int entry = path == PixelPath::kPacked ? 1 : 7; entry <= 13; ++entry) {
        if (ConverterEntry(s, entry, format, frame_has_alpha)) {
            s.entry = entry;
            break;
        }
    }
    if (!s.entry) return 0;
    const uint32_t mode = (flags & kCopyScaleMask) >> kCopyScaleShift;
    s.mode = mode;
    s.twice = mode == 1 || mode == 4;
    s.span = s.base_span;
    s.output_step = s.bytes_per_pixel;
    const bool widen = mode == 3 || mode == 4 || mode == 5;
    if (s.format == kSurfaceYv12) {
        if (widen) {
            s.base_span = detail::Yv12Double();
            s.output_step = 2;
        }
        s.span = s.twice ? &ConvertTwice : s.base_span;
        return s.entry;
    }
    if (widen) {
        s.output_step = 2 * s.bytes_per_pixel;
        s.store = s.widen;
        s.uses_scratch = true;
        if (mode == 4) s.store = &WidenTwice;
    } else if (mode == 1) {
        if (s.uses_scratch) {
            s.inner_store = s.store;
            s.store = &StoreTwice;
        } else {
            s.span = &ConvertTwice;
        }
    }
    return s.entry;
}

uint32_t SurfaceBytesPerPixel(uint32_t format) {
    switch (format) {
        case 0:
        case 15:
            return 1;
        case 1:
        case 2:
            return 3;
        case 3:
        case 4:
        case 5:
        case 6:
            return 4;
        default:
            return format <= 14 ? 2 : 0;
    }
}

}  // namespace vemo
