// The info file that lies next to each installer: line 1 the installer's
// size in bytes, the rest a news text that the manager window rotates.
#pragma once

#include <cstddef>
#include <cstdint>

// strtol's rule for line 1: leading blanks, tabs, CR, VT and FF skipped, an
// optional sign, digits up to the first non-digit; no digits give 0. Wraps
// modulo 2^32 instead of saturating.
std::int32_t ParseTotalSize(const char* line);

// Splits the info text in place: cuts line 1 at its LF, sets the ticker start
// and position of the manager state to the news text and its total size.
// False when the text holds no LF or the size is 0 or less.
bool SplitInfoText(char* text);

// Builds the next rotated view of the news text in display (displaySize
// bytes, cleared first) and advances the ticker position to the next line.
// On wrapping, the position goes to the line after the first LF. A news text
// without any LF keeps its position and shows whole on every tick.
void TickerTick(char* display, std::size_t displaySize);
