// Geometry of the segmented progress bar, in pixels of a W x H bitmap.
//
// Rectangles are (left, top, right, bottom) as handed to a fill without an
// outline, which covers left..right-2 and top..bottom-2.
#pragma once

#include <cstdint>

struct BarRect {
    int left, top, right, bottom;
};

struct ProgressLayout {
    int segmentWidth;   // w = (W - 4) / 20
    int segmentsDrawn;  // segments that start inside the bitmap; later ones would not show
    bool completionFill;
    BarRect completion;  // from the end of the last segment to W - 2
};

// n = downloaded * 21 / total in double, truncated; the bar reaches its 21st
// segment only at completion. total must be above 0.
ProgressLayout LayoutProgress(int width, int height, std::int32_t downloaded, std::int32_t total);

BarRect SegmentRect(const ProgressLayout& layout, int height, int index);

// The whole percentage the bar stands for, 0 to 100: downloaded * 100 /
// total rounded down, 100 from the total on, 0 without a total (no download
// yet). What screen readers and the taskbar are told.
int WholePercent(std::int32_t downloaded, std::int32_t total);
