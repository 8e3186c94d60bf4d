// progress W H TOTAL COUNTS: draws the progress bar of a W x H picture
// control for each downloaded count of COUNTS (comma-separated) in turn and
// prints the bitmap's pixels, read back with GetDIBits, one row a line:
// F button face, K black, N segment navy, ? anything else.
// dialog-progress PROGRAM TOTAL COUNTS: the same on the progress control of
// a manager dialog made from PROGRAM's own template, at whatever size the
// dialog gives the control at the system DPI.
#include <cstdlib>
#include <string>
#include <vector>

#include "download/manager_state.h"
#include "probe.h"
#include "ui/progress_bar.h"
#include "ui/resource_ids.h"

static char Classify(COLORREF pixel) {
    if (pixel == GetSysColor(COLOR_BTNFACE)) return 'F';
    if (pixel == RGB(0, 0, 0)) return 'K';
    if (pixel == RGB(0, 0, 128)) return 'N';
    return '?';
}

// Draws the bar of parent's progress control for each count and prints
// what came out.
static int DrawAndPrint(HWND parent, HWND control, const char* total, const std::string& counts) {
    g_manager.totalSize = atoi(total);
    HBITMAP first = nullptr;
    bool sameBitmap = true;
    const DWORD start = GetTickCount();
    for (size_t at = 0; at < counts.size();) {
        size_t comma = counts.find(',', at);
        if (comma == std::string::npos) comma = counts.size();
        g_manager.downloaded = static_cast<std::int32_t>(strtoll(counts.substr(at, comma - at).c_str(), nullptr, 10));
        DrawProgressBar(parent);
        if (!first) first = static_cast<HBITMAP>(g_manager.progressBitmap);
        sameBitmap = sameBitmap && first == g_manager.progressBitmap;
        at = comma + 1;
    }
    printf("draw_ms=%lu\n", GetTickCount() - start);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    printf("bitmap=%d\nsame_bitmap=%d\n", first ? 1 : 0, sameBitmap ? 1 : 0);
    printf("shown=%d\n",
           SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0) == reinterpret_cast<LRESULT>(first) ? 1 : 0);
    if (!first) return 0;

    BITMAP size = {};
    GetObjectA(first, sizeof size, &size);
    const int width = size.bmWidth, height = size.bmHeight;
    printf("bitmap_size=%d,%d\n", width, height);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, first, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    printf("rows=%d\n", rows);
    for (int y = 0; y < height; ++y) {
        std::string line;
        for (int x = 0; x < width; ++x) {
            const DWORD bgr = pixels[static_cast<size_t>(y) * width + x];
            line += Classify(RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF));
        }
        printf("row%d=%s\n", y, line.c_str());
    }
    return 0;
}

static int RunProgress(char** args) {
    const int width = atoi(args[0]), height = atoi(args[1]);
    HWND parent = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, width + 40, height + 40, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND control = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 10, 10, width, height, parent,
                                   reinterpret_cast<HMENU>(IDC_PROGRESS), GetModuleHandleA(nullptr), nullptr);
    return DrawAndPrint(parent, control, args[2], args[3]);
}

static INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

static int RunDialogProgress(char** args) {
    HDC screen = GetDC(nullptr);
    printf("dpi_unaware=%d\n", GetDeviceCaps(screen, LOGPIXELSX));
    ReleaseDC(nullptr, screen);
    // What the program's manifest declares (system DPI aware), so that the
    // dialog is laid out at the system DPI as the program's is.
    SetProcessDPIAware();
    screen = GetDC(nullptr);
    printf("dpi=%d\n", GetDeviceCaps(screen, LOGPIXELSX));
    ReleaseDC(nullptr, screen);
    HMODULE program = LoadLibraryExA(args[0], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = program ? FindResourceA(program, "MANAGER", RT_DIALOG) : nullptr;
    HGLOBAL loaded = found ? LoadResource(program, found) : nullptr;
    const void* dialogTemplate = loaded ? LockResource(loaded) : nullptr;
    HWND dialog = dialogTemplate ? CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                                              static_cast<LPCDLGTEMPLATEA>(dialogTemplate), nullptr,
                                                              QuietDialog, 0)
                                 : nullptr;
    HWND control = dialog ? GetDlgItem(dialog, IDC_PROGRESS) : nullptr;
    RECT client = {};
    if (!control || !GetClientRect(control, &client)) {
        printf("dialog=0\n");
        return 1;
    }
    printf("dialog=1\ncontrol_size=%ld,%ld\n", client.right, client.bottom);
    return DrawAndPrint(dialog, control, args[1], args[2]);
}

const ProbeCommand kProgressCommands[] = {
    {"progress", 4, "W H TOTAL COUNTS", RunProgress},
    {"dialog-progress", 3, "PROGRAM TOTAL COUNTS", RunDialogProgress},
    {nullptr, 0, nullptr, nullptr},
};
