// What the download manager flow needs of its window. The manager dialog
// realises these on the real window; the tests put a recording double in
// their place. window is passed back to every operation.
#pragma once

#include <cstdint>

struct WindowOps {
    void* window;
    void* (*statusBox)(void* window);
    void (*setTitle)(void* window, const char* text);
    void (*setStatusText)(void* window, const char* text);
    void (*repaintStatus)(void* window);
    void (*deselectStatus)(void* window);
    // Takes keyboard focus and caret off the status box.
    void (*parkFocus)(void* window);
    void (*activateFocusSink)(void* window);
    void (*showOkButton)(void* window);  // shows it and gives it the focus
    void (*redrawProgress)(void* window);
    // Starts the ticker timer; returns its identifier, 0 when it failed.
    std::int32_t (*startTickerTimer)(void* window);
    void (*killTimer)(void* window, std::int32_t id);
    void (*postStart)(void* window);
    void (*startWorker)(void* window);
    void (*endWindow)(void* window, int result);
};
