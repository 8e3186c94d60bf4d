#include "ui/progress_geometry.h"

ProgressLayout LayoutProgress(int width, int height, std::int32_t downloaded, std::int32_t total) {
    ProgressLayout layout{};
    layout.segmentWidth = (width - 4) / 20;
    if (total <= 0) return layout;

    double count = static_cast<double>(downloaded) * 21.0 / static_cast<double>(total);
    // Clamp before converting: a body far longer than announced gives counts
    // beyond any integer, and nothing past the right edge would show anyway.
    if (count < 0) count = 0;
    if (count > 1e9) count = 1e9;
    const std::int64_t n = static_cast<std::int64_t>(count);

    const int w = layout.segmentWidth;
    std::int64_t visible = n;
    if (w > 0) {
        // Segment i starts at 2 + i*w; those starting at or past W are dropped.
        // Unsigned 32-bit: width - 2 + w - 1 stays below 2^32 for any int
        // width, and needs no 64-bit division from the run-time library.
        const std::int64_t inside =
            (static_cast<std::uint32_t>(width) - 2u + static_cast<std::uint32_t>(w) - 1u) / static_cast<std::uint32_t>(w);
        if (visible > inside) visible = inside;
    } else {
        visible = 0;  // zero-width segments cover no pixel
    }
    layout.segmentsDrawn = static_cast<int>(visible);

    if (downloaded >= total) {
        const std::int64_t left = 2 + n * w;
        if (left < width - 2) {
            layout.completionFill = true;
            layout.completion = {static_cast<int>(left), 2, width - 2, height - 1};
        }
    }
    return layout;
}

BarRect SegmentRect(const ProgressLayout& layout, int height, int index) {
    const int w = layout.segmentWidth;
    return {2 + index * w, 2, 2 + (index + 1) * w, height - 1};
}

int WholePercent(std::int32_t downloaded, std::int32_t total) {
    if (total <= 0 || downloaded <= 0) return 0;
    if (downloaded >= total) return 100;
    // In double, as the segment count: 64-bit division would bring the
    // compiler's run-time helpers into the 32-bit program. Exact enough:
    // the quotient lies below 100 by far more than the rounding.
    return static_cast<int>(downloaded * 100.0 / total);
}
