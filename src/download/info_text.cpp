#include "download/info_text.h"

#include <cstring>

#include "download/manager_state.h"

static bool IsLeadingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

std::int32_t ParseTotalSize(const char* line) {
    const char* p = line;
    while (IsLeadingSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    std::uint32_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) magnitude = magnitude * 10u + static_cast<std::uint32_t>(*p - '0');
    if (negative) magnitude = 0u - magnitude;
    return static_cast<std::int32_t>(magnitude);
}

bool SplitInfoText(char* text) {
    char* lineEnd = std::strchr(text, '\n');
    if (!lineEnd) return false;
    *lineEnd = '\0';
    g_manager.tickerStart = g_manager.tickerPosition = lineEnd + 1;
    g_manager.totalSize = ParseTotalSize(text);
    return g_manager.totalSize > 0;
}

// Appends count bytes of src to the display text of length *used, never
// past the last byte, which stays the terminator.
static void AppendBounded(char* display, std::size_t displaySize, std::size_t* used, const char* src,
                          std::size_t count) {
    const std::size_t room = displaySize - 1 - *used;
    if (count > room) count = room;
    std::memcpy(display + *used, src, count);
    *used += count;
    display[*used] = '\0';
}

void TickerTick(char* display, std::size_t displaySize) {
    if (!display || displaySize == 0) return;
    std::memset(display, 0, displaySize);
    char* start = g_manager.tickerStart;
    char* position = g_manager.tickerPosition;
    if (!start || !position) return;

    std::size_t used = 0;
    AppendBounded(display, displaySize, &used, position, std::strlen(position));
    if (position != start)
        AppendBounded(display, displaySize, &used, start, static_cast<std::size_t>(position - start));

    const char* lineFeed = std::strchr(position, '\n');
    if (!lineFeed) lineFeed = std::strchr(start, '\n');
    if (lineFeed) g_manager.tickerPosition = const_cast<char*>(lineFeed) + 1;
}
