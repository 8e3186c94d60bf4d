// The segmented progress bar of the manager window: a bitmap drawn by the
// program and shown by the static picture control IDC_PROGRESS.
#pragma once

#include <windows.h>


// Redraws the bar from the downloaded count and total size of the manager
// state. The bitmap is created on the first call and never cleared, so each
// call paints the segments again over the earlier ones.
void DrawProgressBar(HWND window);

// Deletes the bitmap, if it was created.
void DeleteProgressBitmap();
