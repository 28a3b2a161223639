// Changed-area rectangles from the change map.
#include "vemo/changed_rects.h"

#include <algorithm>

namespace vemo {

namespace {

bool BlockChanged(const ChangeMapView& view, uint32_t bx, uint32_t by) {
    return bx < view.blocks_across && by < view.blocks_down &&
           view.map[static_cast<size_t>(by) * view.blocks_across + bx] != 0;
}

bool RowChanged(const ChangeMapView& view, uint32_t by, uint32_t bx, uint32_t columns) {
    for (uint32_t c = 0; c < columns; ++c)
        if (BlockChanged(view, bx + c, by)) return true;
    return false;
}

bool ColumnChanged(const ChangeMapView& view, uint32_t bx, uint32_t by, uint32_t rows) {
    for (uint32_t r = 0; r < rows; ++r)
        if (BlockChanged(view, bx, by + r)) return true;
    return false;
}

int64_t Area(const ChangedRect& r) {
    return static_cast<int64_t>(r.width) * r.height;
}

struct Split {
    int64_t saving = 0;
    ChangedRect first{};
    ChangedRect second{};
};

// The better of a vertical and a horizontal cut through r, and what it saves.
Split SplitRect(const ChangeMapView& view, const ChangedRect& r) {
    Split best;
    const int64_t whole = Area(r);
    if (r.width >= 32) {
        const int32_t half = (r.width / 2 + 15) & ~15;
        ChangedRect a{}, b{};
        const bool has_a = BoundChangedBlocks(view, {r.x, r.y, half, r.height}, &a);
        const bool has_b =
            BoundChangedBlocks(view, {r.x + half, r.y, r.width - half, r.height}, &b);
        if (has_a && has_b) {
            best.saving = whole - Area(a) - Area(b);
            best.first = a;
            best.second = b;
        }
    }
    if (r.height >= 32) {
        const int32_t half = (r.height / 2 + 15) & ~15;
        ChangedRect a{}, b{};
        const bool has_a = BoundChangedBlocks(view, {r.x, r.y, r.width, half}, &a);
        const bool has_b =
            BoundChangedBlocks(view, {r.x, r.y + half, r.width, r.height - half}, &b);
        if (has_a && has_b) {
            const int64_t saving = whole - Area(a) - Area(b);
            if (saving > best.saving) {
                best.saving = saving;
                best.first = a;
                best.second = b;
            }
        }
    }
    return best;
}

}  // namespace

bool BoundChangedBlocks(const ChangeMapView& view, const ChangedRect& r, ChangedRect* bound) {
    if (!view.map || r.x < 0 || r.y < 0 || r.width <= 0 || r.height <= 0) return false;
    const uint32_t bx = static_cast<uint32_t>(r.x) / 16;
    const uint32_t by = static_cast<uint32_t>(r.y) / 16;
    const uint32_t columns = static_cast<uint32_t>(r.width) / 16;
    const uint32_t rows = static_cast<uint32_t>(r.height) / 16;

    uint32_t top = 0;
    while (top < rows && !RowChanged(view, by + top, bx, columns)) ++top;
    if (top == rows) return false;
    ChangedRect b = r;
    b.y = r.y + 16 * static_cast<int32_t>(top);
    b.height = r.height - 16 * static_cast<int32_t>(top);
    uint32_t last_row = rows;  // one past the last row still inside b
    if (b.height >= 2) {
        uint32_t empty = 0;
        while (last_row - 1 > top && !RowChanged(view, by + last_row - 1, bx, columns)) {
            --last_row;
            ++empty;
        }
        b.height -= 16 * static_cast<int32_t>(empty);
    }
    const uint32_t first_row = by + top;
    const uint32_t row_count = last_row - top;

    uint32_t left = 0;
    while (left < columns && !ColumnChanged(view, bx + left, first_row, row_count)) ++left;
    b.x = r.x + 16 * static_cast<int32_t>(left);
    b.width = r.width - 16 * static_cast<int32_t>(left);
    if (b.width >= 2) {
        uint32_t end = columns;
        uint32_t empty = 0;
        while (end - 1 > left && !ColumnChanged(view, bx + end - 1, first_row, row_count)) {
            --end;
            ++empty;
        }
        b.width -= 16 * static_cast<int32_t>(empty);
    }
    *bound = b;
    return true;
}

int ComputeChangedRects(const ChangeMapView& view, bool one_only, uint32_t scale_mode,
                        ChangedRect* out) {
    if (!view.map || view.coded_width == 0 || view.coded_height == 0) return 0;
    // The whole coded picture in 16x16 blocks; a last partial block row is
    // scanned too, so that changes in it are never lost.
    const ChangedRect picture{0, 0, static_cast<int32_t>((view.coded_width + 15) & ~15u),
                              static_cast<int32_t>((view.coded_height + 15) & ~15u)};
    ChangedRect rects[kMaxChangedRects];
    int64_t savings[kMaxChangedRects];
    Split splits[kMaxChangedRects];
    if (!BoundChangedBlocks(view, picture, &rects[0])) return 0;
    int count = 1;
    if (!one_only) {
        splits[0] = SplitRect(view, rects[0]);
        savings[0] = splits[0].saving;
        while (count < kMaxChangedRects) {
            int best = -1;
            for (int i = 0; i < count; ++i)
                if (savings[i] > 0 && (best < 0 || savings[i] > savings[best])) best = i;
            if (best < 0) break;
            const Split split = splits[best];
            rects[best] = split.first;
            rects[count] = split.second;
            splits[best] = SplitRect(view, rects[best]);
            savings[best] = splits[best].saving;
            splits[count] = SplitRect(view, rects[count]);
            savings[count] = splits[count].saving;
            ++count;
        }
    }

    ChangedRect* end = std::copy(rects, rects + count, out);
    std::stable_sort(out, end, [](const ChangedRect& a, const ChangedRect& b) {
        return static_cast<int64_t>(a.y) * 65536 + a.x < static_cast<int64_t>(b.y) * 65536 + b.x;
    });

    int kept = 0;
    for (int i = 0; i < count; ++i) {
        ChangedRect r = out[i];
        switch (scale_mode & 7) {
            case 3:
                r.x *= 2;
                r.width *= 2;
                break;
            case 1:
            case 2:
                r.y *= 2;
                r.height *= 2;
                break;
            case 4:
            case 5:
                r.x *= 2;
                r.width *= 2;
                r.y *= 2;
                r.height *= 2;
                break;
            default:
                break;
        }
        const int64_t pw = view.played_width, ph = view.played_height;
        if (r.x + static_cast<int64_t>(r.width) > pw)
            r.width = static_cast<int32_t>(std::max<int64_t>(0, pw - r.x));
        if (r.y + static_cast<int64_t>(r.height) > ph)
            r.height = static_cast<int32_t>(std::max<int64_t>(0, ph - r.y));
        // A rectangle wholly outside the played picture shows nothing.
        if (r.width > 0 && r.height > 0) out[kept++] = r;
    }
    return kept;
}

}  // namespace vemo
