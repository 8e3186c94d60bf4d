#include "ui/progress_geometry.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct LayoutCase {
    int width;
    std::int32_t downloaded, total;
    int segmentWidth, segmentsDrawn;
    bool completion;
    int completionLeft;
};

const LayoutCase kCases[] = {
    {234, 0, 210, 11, 0, false, 0},
    {234, 100, 210, 11, 10, false, 0},     // n = 2100 / 210
    {234, 199, 210, 11, 19, false, 0},     // 19.9 truncates to 19
    {234, 200, 210, 11, 20, false, 0},     // the 20th segment shows at 20/21
    {234, 210, 210, 11, 21, false, 0},     // completion: 21st at 222, fill from 233 is empty
    {200, 210, 210, 9, 21, true, 191},     // fill 191 .. 196
    {44, 10, 10, 2, 21, false, 0},         // 21 * 2 + 2 = 44 = W: nothing left to fill
    {43, 10, 10, 1, 21, true, 23},
    {234, INT_MAX, 1, 11, 22, false, 0},   // far above total: only what starts inside (the 22nd at 233)
    {234, 300, 210, 11, 22, false, 0},     // 30 segments computed, 22 start inside the bitmap
    {3, 10, 10, 0, 0, false, 0},
};

TEST(LayoutProgress, FollowsTheSegmentGeometry) {
    for (const LayoutCase& c : kCases) {
        const ProgressLayout layout = LayoutProgress(c.width, 20, c.downloaded, c.total);
        EXPECT_EQ(layout.segmentWidth, c.segmentWidth) << c.width << "/" << c.downloaded;
        EXPECT_EQ(layout.segmentsDrawn, c.segmentsDrawn) << c.width << "/" << c.downloaded;
        EXPECT_EQ(layout.completionFill, c.completion) << c.width << "/" << c.downloaded;
        if (c.completion) {
            EXPECT_EQ(layout.completion.left, c.completionLeft);
            EXPECT_EQ(layout.completion.right, c.width - 2);
            EXPECT_EQ(layout.completion.top, 2);
            EXPECT_EQ(layout.completion.bottom, 19);
        }
    }
}

TEST(LayoutProgress, DrawnSegmentsStartInsideTheBitmap) {
    for (int width = 0; width < 300; ++width) {
        const ProgressLayout layout = LayoutProgress(width, 20, INT_MAX, 1);
        if (layout.segmentsDrawn > 0) {
            EXPECT_LT(SegmentRect(layout, 20, layout.segmentsDrawn - 1).left, width) << width;
        }
        if (layout.segmentWidth > 0) {
            EXPECT_GE(SegmentRect(layout, 20, layout.segmentsDrawn).left, width) << width;
        }
    }
}

TEST(SegmentRect, LeavesAOnePixelGap) {
    const ProgressLayout layout = LayoutProgress(234, 20, 100, 210);
    const BarRect first = SegmentRect(layout, 20, 0), last = SegmentRect(layout, 20, 9);
    // A fill without outline covers left .. right - 2.
    EXPECT_EQ(first.left, 2);
    EXPECT_EQ(first.right - 2, 11);
    EXPECT_EQ(last.left, 101);
    EXPECT_EQ(last.right - 2, 110);
    EXPECT_EQ(first.top, 2);
    EXPECT_EQ(first.bottom, 19);
}

}  // namespace

namespace {

TEST(WholePercent, RoundsDownAndReachesHundredOnlyAtTheTotal) {
    const struct {
        std::int32_t downloaded, total;
        int expected;
    } cases[] = {{0, 210, 0},          {1, 210, 0},          {105, 210, 50},       {209, 210, 99},
                 {210, 210, 100},      {400, 210, 100},      {5, 0, 0},            {5, -3, 0},
                 {-5, 100, 0},         {2147483646, 2147483647, 99}, {2147483647, 2147483647, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(WholePercent(c.downloaded, c.total), c.expected) << c.downloaded << " of " << c.total;
}

}  // namespace
