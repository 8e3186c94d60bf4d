#include "ui/progress_bar.h"

#include "download/manager_state.h"
#include "ui/progress_geometry.h"
#include "ui/resource_ids.h"

static const COLORREF SEGMENT_COLOUR = RGB(0, 0, 128);

// Fills r without an outline (covering left..right-2, top..bottom-2).
static void FillWithoutOutline(HDC dc, const BarRect& r) {
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
}

// Creates the bitmap, fills it with the button face and hands it to the
// control. Returns null when it cannot be created.
static HBITMAP CreateProgressBitmap(HWND control, HDC memory, int width, int height) {
    HDC controlDc = GetDC(control);
    HBITMAP bitmap = CreateCompatibleBitmap(controlDc, width, height);
    ReleaseDC(control, controlDc);
    if (!bitmap) return nullptr;
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    HGDIOBJ oldBrush = SelectObject(memory, face);
    HGDIOBJ oldPen = SelectObject(memory, GetStockObject(NULL_PEN));
    FillWithoutOutline(memory, {0, 0, width, height});
    SelectObject(memory, oldPen);
    SelectObject(memory, oldBrush);
    DeleteObject(face);
    SelectObject(memory, oldBitmap);
    PostMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    return bitmap;
}

// What the bitmap shows, and its size. Its pixels depend on nothing else,
// so a redraw that would not change them (most chunks of a download) does
// nothing, without asking the window anything.
static int g_drawnSegments = -1;
static bool g_drawnCompletion;
static int g_bitmapWidth, g_bitmapHeight;

static bool PictureUnchanged(const ProgressLayout& layout) {
    return layout.segmentsDrawn == g_drawnSegments && layout.completionFill == g_drawnCompletion;
}

static void DrawSegments(HDC memory, int height, const ProgressLayout& layout) {
    HBRUSH segment = CreateSolidBrush(SEGMENT_COLOUR);
    HGDIOBJ oldBrush = SelectObject(memory, segment);
    HGDIOBJ oldPen = SelectObject(memory, GetStockObject(NULL_PEN));
    for (int i = 0; i < layout.segmentsDrawn; ++i) FillWithoutOutline(memory, SegmentRect(layout, height, i));
    if (layout.completionFill) FillWithoutOutline(memory, layout.completion);
    SelectObject(memory, oldPen);
    SelectObject(memory, oldBrush);
    DeleteObject(segment);
}

static void DrawFrames(HDC memory, int width, int height) {
    HGDIOBJ oldBrush = SelectObject(memory, GetStockObject(NULL_BRUSH));
    HGDIOBJ oldPen = SelectObject(memory, GetStockObject(BLACK_PEN));
    Rectangle(memory, 0, 0, width, height);
    HPEN face = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNFACE));
    SelectObject(memory, face);
    Rectangle(memory, 1, 1, width - 1, height - 1);
    SelectObject(memory, oldPen);
    SelectObject(memory, oldBrush);
    DeleteObject(face);
}

void DrawProgressBar(HWND window) {
    HWND control = nullptr;
    if (!g_manager.progressBitmap) {
        // The bitmap is made at the control's size and keeps that size.
        control = GetDlgItem(window, IDC_PROGRESS);
        RECT client = {};
        if (!control || !GetClientRect(control, &client)) return;
        g_bitmapWidth = client.right;
        g_bitmapHeight = client.bottom;
    }
    const int width = g_bitmapWidth, height = g_bitmapHeight;
    const ProgressLayout layout = LayoutProgress(width, height, g_manager.downloaded.load(), g_manager.totalSize);
    if (g_manager.progressBitmap && PictureUnchanged(layout)) return;
    if (!control) control = GetDlgItem(window, IDC_PROGRESS);
    if (!control) return;

    HDC memory = CreateCompatibleDC(nullptr);
    if (!memory) return;
    if (!g_manager.progressBitmap) g_manager.progressBitmap = CreateProgressBitmap(control, memory, width, height);
    if (g_manager.progressBitmap) {
        HGDIOBJ oldBitmap = SelectObject(memory, static_cast<HBITMAP>(g_manager.progressBitmap));
        DrawSegments(memory, height, layout);
        DrawFrames(memory, width, height);
        SelectObject(memory, oldBitmap);
        InvalidateRect(control, nullptr, FALSE);
        g_drawnSegments = layout.segmentsDrawn;
        g_drawnCompletion = layout.completionFill;
    }
    DeleteDC(memory);
}

void DeleteProgressBitmap() {
    if (g_manager.progressBitmap) DeleteObject(static_cast<HBITMAP>(g_manager.progressBitmap));
    g_manager.progressBitmap = nullptr;
    g_drawnSegments = -1;
}
