// How the download worker reads the installer: build settings
// (TEMBRA_READ_SIZE, TEMBRA_READ_PAUSE_MS), defined in transfer_settings.cpp,
// which each program variant compiles with its own settings header.
#pragma once

// Bytes asked of each read: 4,096 by default, up to MAX_READ_SIZE for a
// distributor's build meant for fast lines.
extern const unsigned READ_SIZE;
constexpr unsigned MAX_READ_SIZE = 262144;
// Pause after each read: 1 ms by default, 0 for no pause.
extern const unsigned READ_PAUSE_MS;
