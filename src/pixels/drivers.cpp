// The copy: source rectangle scaling and clipping, the conversion context and
// the two row drivers (copy-all and changed blocks).
//
// Every converter call is positioned from its row and column, so a span that
// ends at an odd column never shifts the chroma of the following span, and
// rows whose destination is not wholly inside the described memory are
// converted into a bounce row and copied back clipped.
#include <algorithm>
#include <vector>

#include "pixels_internal.h"

namespace vemo {

namespace {

// A run of 128s read as both chroma planes under Grayscale.
struct GreyRun {
    uint8_t bytes[1024];
    GreyRun() { std::memset(bytes, 128, sizeof bytes); }
};
const GreyRun kGrey;

// A byte range of the destination, as offsets from the caller's pointer.
struct Region {
    int64_t begin = 0, end = 0;
    bool Holds(int64_t offset, int64_t length) const {
        return offset >= begin && offset + length <= end;
    }
};

// One place a row writes: its offset, length and the region it must stay in.
// With second non-zero the same row is written again second bytes further
// (the second row of height doubling).
struct Target {
    int64_t offset = 0;
    int64_t length = 0;
    int64_t second = 0;
    Region region;
    uint8_t* bounce = nullptr;
    int rows() const { return second ? 2 : 1; }
    bool Inside() const {
        return region.Holds(offset, length) && (!second || region.Holds(offset + second, length));
    }
};

class RowDriver {
  public:
    RowDriver(const ConverterStateData& s, const CopyRequest& request, const PlaneRect& rect,
              const FramePlanes& planes, uint32_t flags, const FrameSource& source)
        : s_(s), request_(request), source_(source) {
        const PlaneDescriptor* buffer = planes.buffer[planes.current & 1];
        const bool show_alpha = (flags & kCopyShowAlpha) != 0;
        const PlaneDescriptor& y = buffer[show_alpha ? kPlaneAlpha : kPlaneY];
        const PlaneDescriptor& a = buffer[show_alpha ? kPlaneY : kPlaneAlpha];
        luma_plane_ = y.samples;
        luma_stride_ = y.stride;
        alpha_plane_ = a.samples ? a.samples : y.samples;
        alpha_stride_ = a.samples ? a.stride : y.stride;
        const bool swap = (flags & kCopySwapChroma) != 0;
        const PlaneDescriptor& c1 = buffer[swap ? kPlaneCb : kPlaneCr];
        const PlaneDescriptor& c2 = buffer[swap ? kPlaneCr : kPlaneCb];
        grey_ = (flags & kCopyGrayscale) != 0 || !c1.samples || !c2.samples;
        chroma1_plane_ = c1.samples;
        chroma2_plane_ = c2.samples;
        chroma1_stride_ = c1.stride;
        chroma2_stride_ = c2.stride;

        mode6_ = s.mode == 6;
        left_ = rect.left;
        top_ = mode6_ ? rect.top / 2 : rect.top;
        width_ = rect.width;
        height_ = mode6_ ? rect.height / 2 : rect.height;

        const int64_t pitch = request.pitch;
        const int64_t rows = request.destination_height;
        int64_t base = 0;
        uint32_t dy = request.destination_y;
        if (pitch < 0) {
            base = -pitch * (rows - static_cast<int64_t>(dy) - 1);
            dy = 0;
        }
        row_step_ = (s.mode == 2 || s.mode == 5 || s.mode == 6) ? 2 * pitch : pitch;
        row_advance_ = row_step_ + (s.twice ? pitch : 0);
        dest0_ = base + static_cast<int64_t>(request.destination_x) * s.bytes_per_pixel +
                 static_cast<int64_t>(dy) * pitch;
        const int64_t abs_pitch = pitch < 0 ? -pitch : pitch;
        luma_region_ = {0, rows * abs_pitch};
        row_length_ = static_cast<int64_t>(width_) * s.output_step;

        yv12_ = s.format == kSurfaceYv12;
        if (yv12_) {
            const int64_t chroma_pitch = pitch / 2;
            const int64_t plane = (rows / 2) * chroma_pitch;
            const int64_t offset =
                static_cast<int64_t>(dy / 2) * chroma_pitch + request.destination_x / 2;
            v0_ = base + rows * pitch + offset;
            u0_ = base + rows * pitch + plane + offset;
            // The two chroma planes are one region: a V row past its plane
            // lands in the U plane, a U row past the U plane is dropped.
            if (pitch > 0) v_region_ = u_region_ = {rows * pitch, rows * pitch + 2 * plane};
            chroma_advance_ = row_step_ / 2 + (s.twice ? pitch / 2 : 0);
            chroma_twice_ = pitch / 2;
            chroma_length_ = (static_cast<int64_t>((width_ + 1) / 2) + 1) * s.output_step;
        }

        if (s.uses_scratch)
            limit_ = 512u >> s.scratch_shift;
        else
            limit_ = width_;
        if (grey_) limit_ = std::min<uint32_t>(limit_, s.uses_scratch ? limit_ : 256);
        if (limit_ == 0) limit_ = 1;

        ctx_ = ConversionContext{};
        ctx_.state = &s_;
        // Rows of the packed formats lie wholly inside the described memory
        // when the first and the last do (rows are evenly spaced): then no
        // row needs its targets checked.
        if (!yv12_ && height_) {
            const int64_t second = s.twice ? request.pitch : 0;
            const int64_t last = dest0_ + static_cast<int64_t>(height_ - 1) * row_advance_;
            all_direct_ = Target{dest0_, row_length_, second, luma_region_, nullptr}.Inside() &&
                          Target{last, row_length_, second, luma_region_, nullptr}.Inside();
        }
    }

    bool empty() const { return width_ == 0 || height_ == 0 || !luma_plane_; }

    void Run(bool copy_all) {
        if ((copy_all || !source_.change_map) && all_direct_ && !s_.uses_scratch &&
            limit_ >= width_) {
            RunWhole();
            return;
        }
        if ((copy_all || !source_.change_map) && CopyPlanes()) return;
        for (uint32_t k = 0; k < height_; ++k) {
            const uint32_t row = top_ + k;
            BeginRow(k, row);
            if (copy_all || !source_.change_map) {
                ConvertRun(left_, width_);
            } else {
                // Map rows follow the luma rows actually read.
                const uint32_t luma_row = mode6_ ? 2 * row : row;
                const uint8_t* map =
                    source_.change_map +
                    static_cast<size_t>(source_.change_map_stride) * (luma_row / 16);
                uint32_t column = left_;
                const uint32_t end = left_ + width_;
                uint32_t run_start = 0;
                bool in_run = false;
                while (column < end) {
                    const uint32_t next = std::min(end, (column & ~15u) + 16);
                    const bool changed = map[column / 16] != 0;
                    if (changed && !in_run) {
                        run_start = column;
                        in_run = true;
                    } else if (!changed && in_run) {
                        ConvertRun(run_start, column - run_start);
                        in_run = false;
                    }
                    column = next;
                }
                if (in_run) ConvertRun(run_start, end - run_start);
            }
            EndRow();
        }
    }

  private:
    // YV12 without doubling: the planes copied row by row, or as one block
    // where rows follow each other without gaps on both sides, when every
    // row lies inside the described memory (the converter's own bytes: a
    // row's luma, and on even rows (width + 1) / 2 bytes of each chroma).
    bool CopyPlanes() {
        if (!yv12_ || s_.span != s_.base_span || s_.output_step != 1 || grey_ ||
            request_.pitch <= 0)
            return false;
        const uint32_t chroma = (width_ + 1) / 2;
        const uint32_t first_even = top_ + (top_ & 1), last_row = top_ + height_ - 1;
        const int64_t evens = first_even <= last_row ? (last_row - first_even) / 2 + 1 : 0;
        const int64_t last = dest0_ + static_cast<int64_t>(height_ - 1) * row_advance_;
        if (!luma_region_.Holds(dest0_, width_) || !luma_region_.Holds(last, width_)) return false;
        const int64_t first_chroma = static_cast<int64_t>((first_even + 1) / 2) - (top_ + 1) / 2;
        for (const int64_t at : {first_chroma, first_chroma + evens - 1}) {
            if (evens && (!v_region_.Holds(v0_ + at * chroma_advance_, chroma) ||
                          !u_region_.Holds(u0_ + at * chroma_advance_, chroma)))
                return false;
        }
        const size_t luma_step = mode6_ ? 2 * size_t{luma_stride_} : luma_stride_;
        CopyRows(luma_plane_ + luma_step * top_ + left_, luma_step, dest0_, row_advance_, width_,
                 height_);
        if (!evens) return true;
        SetRowSources(first_even);
        const size_t chroma_rows = mode6_ ? 2 : 1;  // chroma rows from one even row to the next
        CopyRows(chroma1_row_ + left_ / 2, chroma1_stride_ * chroma_rows,
                 v0_ + first_chroma * chroma_advance_, chroma_advance_, chroma,
                 static_cast<uint32_t>(evens));
        CopyRows(chroma2_row_ + left_ / 2, chroma2_stride_ * chroma_rows,
                 u0_ + first_chroma * chroma_advance_, chroma_advance_, chroma,
                 static_cast<uint32_t>(evens));
        return true;
    }

    void CopyRows(const uint8_t* from, size_t from_step, int64_t to, int64_t to_step,
                  uint32_t length, uint32_t rows) {
        uint8_t* out = request_.destination + to;
        if (from_step == length && to_step == static_cast<int64_t>(length)) {
            std::memcpy(out, from, size_t{length} * rows);
            return;
        }
        for (uint32_t r = 0; r < rows; ++r, from += from_step, out += to_step)
            std::memcpy(out, from, length);
    }

    // Whole rows straight into the destination: one converter call a row,
    // the pixels it leaves resubmitted.
    void RunWhole() {
        ctx_.row_step = request_.pitch;
        const bool groups_only =
            s_.packed && s_.group && s_.span == s_.base_span && !(left_ & 7) && width_ >= 8;
        if (groups_only && s_.rows) {
            RunRowBlock();
            return;
        }
        uint8_t* out = request_.destination + dest0_;
        for (uint32_t k = 0; k < height_; ++k, out += row_advance_) {
            SetRowContext(top_ + k, out);
            // The packed converters hand a span that starts at a multiple of
            // 8 straight to their group kernel and leave the rest.
            const uint32_t left = groups_only ? (s_.group(ctx_, width_ / 8), width_ & 7)
                                              : s_.span(ctx_, width_, left_);
            if (left && left < width_) {
                targets_[0].offset = out - request_.destination;
                ConvertRun(left_ + width_ - left, left);
            }
        }
    }

    // The whole 8-pixel groups of every row in one kernel call, then the
    // pixels past the last group row by row.
    void RunRowBlock() {
        const size_t luma_rows = mode6_ ? 2 : 1;  // luma rows from one row to the next
        SetRowSources(top_);
        RowBlock b{};
        b.luma = luma_row_ + left_;
        b.chroma1 = grey_ ? kGrey.bytes : chroma1_row_ + left_ / 2;
        b.chroma2 = grey_ ? kGrey.bytes : chroma2_row_ + left_ / 2;
        b.destination = request_.destination + dest0_;
        b.luma_step = static_cast<ptrdiff_t>(luma_rows * luma_stride_);
        // Mode 6 reads every other row pair: its chroma moves two rows.
        b.chroma1_step = grey_ ? 0 : static_cast<ptrdiff_t>(luma_rows * chroma1_stride_);
        b.chroma2_step = grey_ ? 0 : static_cast<ptrdiff_t>(luma_rows * chroma2_stride_);
        b.destination_step = static_cast<ptrdiff_t>(row_advance_);
        b.groups = width_ / 8;
        b.rows = height_;
        b.first_row = top_;
        s_.rows(b);
        const uint32_t rest = width_ & 7;
        if (!rest) return;
        uint8_t* out = request_.destination + dest0_;
        for (uint32_t k = 0; k < height_; ++k, out += row_advance_) {
            SetRowContext(top_ + k, out);
            targets_[0].offset = out - request_.destination;
            ConvertRun(left_ + width_ - rest, rest);
        }
    }

    void SetRowContext(uint32_t row, uint8_t* out) {
        SetRowSources(row);
        ctx_.current_row = row;
        PointSourcesAt(left_);
        ctx_.destination = out;
    }

    // The current row's samples from `column` on.
    void PointSourcesAt(uint32_t column) {
        ctx_.luma = luma_row_ + column;
        ctx_.alpha = alpha_row_ + column;
        if (grey_) {
            ctx_.chroma1 = ctx_.chroma2 = kGrey.bytes;
        } else {
            ctx_.chroma1 = chroma1_row_ + column / 2;
            ctx_.chroma2 = chroma2_row_ + column / 2;
        }
    }

    void SetRowSources(uint32_t row) {
        const uint32_t luma_row = mode6_ ? 2 * row : row;
        luma_row_ = luma_plane_ + static_cast<size_t>(luma_stride_) * luma_row;
        alpha_row_ = alpha_plane_ + static_cast<size_t>(alpha_stride_) * luma_row;
        if (!grey_) {
            const uint32_t chroma_row = mode6_ ? 2 * (row / 2) : row / 2;
            chroma1_row_ = chroma1_plane_ + static_cast<size_t>(chroma1_stride_) * chroma_row;
            chroma2_row_ = chroma2_plane_ + static_cast<size_t>(chroma2_stride_) * chroma_row;
        }
    }

    void BeginRow(uint32_t k, uint32_t row) {
        ctx_.current_row = row;
        SetRowSources(row);
        ntargets_ = 0;
        const int64_t offset = dest0_ + static_cast<int64_t>(k) * row_advance_;
        if (all_direct_) {
            direct_ = true;
            targets_[0].offset = offset;
            ntargets_ = 1;
            ctx_.row_step = request_.pitch;
            return;
        }
        AddTarget(offset, row_length_, luma_region_, s_.twice ? request_.pitch : 0);
        luma_index_ = 0;
        write_chroma_ = yv12_ && !(row & 1);
        if (write_chroma_) {
            const int64_t evens = static_cast<int64_t>((row + 1) / 2) - (top_ + 1) / 2;
            v_index_ = ntargets_;
            AddTarget(v0_ + evens * chroma_advance_, chroma_length_, v_region_,
                      s_.twice ? chroma_twice_ : 0);
            u_index_ = ntargets_;
            AddTarget(u0_ + evens * chroma_advance_, chroma_length_, u_region_,
                      s_.twice ? chroma_twice_ : 0);
        }
        direct_ = true;
        for (int i = 0; i < ntargets_; ++i)
            if (!targets_[i].Inside()) direct_ = false;
        if (direct_) {
            ctx_.row_step = request_.pitch;
            ctx_.chroma_twice_step = chroma_twice_;
            return;
        }
        // Bounce: each target becomes local rows holding the in-region bytes;
        // the second row of height doubling sits right behind the first.
        size_t total = 0;
        for (int i = 0; i < ntargets_; ++i)
            total += static_cast<size_t>(targets_[i].length * targets_[i].rows()) + 64;
        bounce_.assign(total, 0);
        size_t at = 0;
        for (int i = 0; i < ntargets_; ++i) {
            targets_[i].bounce = bounce_.data() + at;
            at += static_cast<size_t>(targets_[i].length * targets_[i].rows()) + 64;
            Transfer(targets_[i], false);
        }
        ctx_.row_step = targets_[luma_index_].length;
        ctx_.chroma_twice_step = write_chroma_ ? targets_[v_index_].length : 0;
    }

    void EndRow() {
        if (direct_) return;
        for (int i = 0; i < ntargets_; ++i) Transfer(targets_[i], true);
    }

    void AddTarget(int64_t offset, int64_t length, const Region& region, int64_t second) {
        targets_[ntargets_++] = Target{offset, length, second, region, nullptr};
    }

    // Copies the in-region bytes between a target and its bounce rows.
    void Transfer(const Target& t, bool back) {
        for (int r = 0; r < t.rows(); ++r) {
            const int64_t offset = t.offset + r * t.second;
            const int64_t begin = std::max(offset, t.region.begin);
            const int64_t end = std::min(offset + t.length, t.region.end);
            if (begin >= end) continue;
            uint8_t* real = request_.destination + begin;
            uint8_t* local = t.bounce + r * t.length + (begin - offset);
            if (back)
                std::memcpy(real, local, static_cast<size_t>(end - begin));
            else
                std::memcpy(local, real, static_cast<size_t>(end - begin));
        }
    }

    uint8_t* TargetAt(int index, int64_t offset_in_row) {
        const Target& t = targets_[index];
        if (direct_) return request_.destination + t.offset + offset_in_row;
        return t.bounce + offset_in_row;
    }

    void ConvertRun(uint32_t column, uint32_t count) {
        uint32_t remaining = count;
        while (remaining) {
            const uint32_t n = std::min(limit_, remaining);
            PointSourcesAt(column);
            uint8_t* out =
                TargetAt(luma_index_, static_cast<int64_t>(column - left_) * s_.output_step);
            if (yv12_) {
                if (write_chroma_) {
                    const int64_t c = static_cast<int64_t>(column / 2 - left_ / 2) * s_.output_step;
                    ctx_.chroma_destination1 = TargetAt(v_index_, c);
                    ctx_.chroma_destination2 = TargetAt(u_index_, c);
                } else {
                    ctx_.chroma_destination1 = ctx_.chroma_destination2 = nullptr;
                }
            }
            uint32_t done;
            if (s_.uses_scratch) {
                uint8_t* scratch = const_cast<uint8_t*>(s_.scratch);
                ctx_.destination = scratch;
                done = n - s_.span(ctx_, n, column);
                s_.store(ctx_, out, scratch, ctx_.destination);
            } else {
                ctx_.destination = out;
                done = n - s_.span(ctx_, n, column);
            }
            if (done == 0) break;  // no converter leaves a whole span
            column += done;
            remaining -= done;
        }
    }

    const ConverterStateData& s_;
    const CopyRequest& request_;
    const FrameSource& source_;
    ConversionContext ctx_{};

    const uint8_t* luma_plane_ = nullptr;
    const uint8_t* alpha_plane_ = nullptr;
    const uint8_t* chroma1_plane_ = nullptr;
    const uint8_t* chroma2_plane_ = nullptr;
    uint32_t luma_stride_ = 0, alpha_stride_ = 0, chroma1_stride_ = 0, chroma2_stride_ = 0;
    bool grey_ = false, mode6_ = false, yv12_ = false;
    uint32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0, limit_ = 0;

    int64_t row_step_ = 0, row_advance_ = 0, dest0_ = 0, row_length_ = 0;
    int64_t v0_ = 0, u0_ = 0, chroma_advance_ = 0, chroma_twice_ = 0, chroma_length_ = 0;
    Region luma_region_, v_region_, u_region_;

    // Per row.
    const uint8_t* luma_row_ = nullptr;
    const uint8_t* alpha_row_ = nullptr;
    const uint8_t* chroma1_row_ = nullptr;
    const uint8_t* chroma2_row_ = nullptr;
    Target targets_[3];
    int ntargets_ = 0, luma_index_ = 0, v_index_ = 0, u_index_ = 0;
    bool write_chroma_ = false, direct_ = true, all_direct_ = false;
    std::vector<uint8_t> bounce_;
};

}  // namespace

bool FrameHasAlpha(const FramePlanes& planes) {
    const PlaneDescriptor& a = planes.buffer[planes.current & 1][kPlaneAlpha];
    return a.wanted && a.samples != nullptr;
}

PlaneRect ScaleSourceRect(const FrameSource& source, const CopyRequest& request) {
    PlaneRect r;
    if (!source.movie_width || !source.movie_height) return r;
    // The plane size is the coded picture's, never the padded allocation.
    uint32_t plane_width = source.coded_width;
    uint32_t plane_height = source.coded_height;
    if (source.planes) {
        plane_width = std::min(plane_width, source.planes->luma_width);
        plane_height = std::min(plane_height, source.planes->luma_height);
    }
    auto scale = [](uint32_t v, uint32_t to, uint32_t from) {
        return static_cast<uint32_t>(static_cast<uint64_t>(v) * to / from);
    };
    uint32_t left = scale(request.source_left, source.coded_width, source.movie_width);
    uint32_t width = scale(request.source_width, source.coded_width, source.movie_width);
    uint32_t top = scale(request.source_top, source.coded_height, source.movie_height);
    uint32_t height = scale(request.source_height, source.coded_height, source.movie_height);
    left = std::min(left, plane_width);
    top = std::min(top, plane_height);
    width = std::min(width, plane_width - left);
    height = std::min(height, plane_height - top);
    r.left = left, r.top = top, r.width = width, r.height = height;
    return r;
}

size_t SurfaceBufferSize(uint32_t format, uint32_t pitch, uint32_t height) {
    size_t bytes = static_cast<size_t>(pitch) * height;
    if (format == kSurfaceYv12) bytes += 2 * static_cast<size_t>(height / 2) * (pitch / 2);
    return bytes;
}

ConvertResult ConvertFrame(ConverterState& state, const FrameSource& source,
                           const CopyRequest& request) {
    if (!source.planes || !request.destination) return ConvertResult::kNothing;
    const FramePlanes& planes = *source.planes;
    const PlaneDescriptor* buffer = planes.buffer[planes.current & 1];
    if (!buffer[kPlaneY].samples || buffer[kPlaneY].stride < planes.luma_width)
        return ConvertResult::kNothing;
    const PlaneRect rect = ScaleSourceRect(source, request);
    if (rect.empty()) return ConvertResult::kNothing;
    const bool has_alpha = FrameHasAlpha(planes) && buffer[kPlaneAlpha].stride >= planes.luma_width;
    uint32_t flags = request.flags;
    if (!has_alpha) flags &= ~kCopyShowAlpha;
    // Chroma planes narrower than their rows need are not read.
    for (int p : {kPlaneCr, kPlaneCb})
        if (buffer[p].samples && (buffer[p].stride < (rect.left + rect.width + 1) / 2 ||
                                  planes.chroma_height < (rect.top + rect.height + 1) / 2))
            flags |= kCopyGrayscale;
    if (!state.SelectConverter(flags, has_alpha)) return ConvertResult::kNothing;
    const bool copy_all = (flags & kCopyAll) || !source.change_map ||
                          source.unchanged_areas < source.full_copy_threshold;
    RowDriver driver(state.data(), request, rect, planes, flags, source);
    if (driver.empty()) return ConvertResult::kNothing;
    driver.Run(copy_all);
    return copy_all ? ConvertResult::kCopiedAll : ConvertResult::kCopiedChanged;
}

}  // namespace vemo
