// The progress bar's geometry on arbitrary sizes and counts: drawing stays
// bounded and inside the bitmap, and the bar never shows more than its 21
// segments while the count is within the total.
#include <cstdint>
#include <cstring>

#include "ui/progress_geometry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int32_t v[4] = {};
    std::memcpy(v, data, size < sizeof v ? size : sizeof v);
    const int width = v[0] & 0xFFFFFF, height = v[1] & 0xFFFF;  // a bitmap up to 16M x 64K pixels
    const std::int32_t downloaded = v[2], total = v[3];
    if (total <= 0) return 0;  // the flow starts a download only with a total above 0
    const ProgressLayout layout = LayoutProgress(width, height, downloaded, total);
    const int w = layout.segmentWidth;
    if (layout.segmentsDrawn < 0 || (w <= 0 && layout.segmentsDrawn != 0)) __builtin_trap();
    if (layout.segmentsDrawn > 0 && SegmentRect(layout, height, layout.segmentsDrawn - 1).left >= width)
        __builtin_trap();  // a segment that starts outside the bitmap is never drawn
    if (downloaded >= 0 && downloaded <= total && layout.segmentsDrawn > 21) __builtin_trap();
    if (layout.completionFill &&
        (downloaded < total || layout.completion.left < 2 || layout.completion.left >= layout.completion.right))
        __builtin_trap();
    return 0;
}
