// Parses arbitrary info files and turns the ticker many times: the position
// must stay inside the news text and no view may pass the display.
#include <cstdint>
#include <cstring>
#include <vector>

#include "download/info_text.h"
#include "download/manager_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> text(TEXT_BUFFER_SIZE, '\0');
    std::memcpy(text.data(), data, size < TEXT_BUFFER_SIZE - 1 ? size : TEXT_BUFFER_SIZE - 1);
    g_manager.responseText = text.data();
    g_manager.tickerStart = g_manager.tickerPosition = nullptr;
    if (SplitInfoText(text.data()) || g_manager.tickerStart) {
        const char* start = g_manager.tickerStart;
        const std::size_t length = std::strlen(start);
        // A small display too, so that cutting is exercised.
        std::vector<char> display(size % 2 ? TEXT_BUFFER_SIZE : 64);
        for (int tick = 0; tick < 64; ++tick) {
            TickerTick(display.data(), display.size());
            if (g_manager.tickerPosition < start || g_manager.tickerPosition > start + length) __builtin_trap();
            const std::size_t shown = std::strlen(display.data());
            if (shown >= display.size() || (display.size() > length && shown != length)) __builtin_trap();
        }
    }
    g_manager.responseText = g_manager.tickerStart = g_manager.tickerPosition = nullptr;
    return 0;
}
