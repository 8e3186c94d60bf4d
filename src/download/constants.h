// Sizes and message numbers shared by the download logic and the windows.
// Kept free of <windows.h> so the portable core compiles on any host.
#pragma once

#include <cstddef>

// URL buffer, response text buffer and the ticker's display buffer.
constexpr std::size_t TEXT_BUFFER_SIZE = 22000;
// Download address and installer file name buffers.
constexpr std::size_t ADDRESS_BUFFER_SIZE = 2048;
// Status text loaded from the string table.
constexpr std::size_t STATUS_TEXT_SIZE = 1024;
// Proxy user name and password given in a run.
constexpr std::size_t PROXY_CREDENTIAL_SIZE = 256;
// Which proxy they were given for: its setting and its challenge.
constexpr std::size_t PROXY_IDENTITY_SIZE = 1024;
// Distribution ID buffer prepared by the manager flow.
constexpr std::size_t DISTRIBUTION_ID_SIZE = 260;

// Private messages of the manager window (WM_USER is 0x400).
constexpr unsigned WM_DLM_START = 0x400 + 1;     // posted by INIT, both params 0
constexpr unsigned WM_DLM_FINISHED = 0x400 + 2;  // wParam 1 success, 0 failure
constexpr unsigned WM_DLM_PROGRESS = 0x400 + 3;  // wParam the chunk's result
constexpr unsigned WM_DLM_RETRYING = 0x400 + 4;  // wParam the ms the worker waits before trying again
constexpr unsigned WM_DLM_PROXY_CREDENTIALS = 0x400 + 5;  // sent; lParam the HINTERNET a proxy refused (407)
constexpr unsigned WM_DLM_ATTEMPT = 0x400 + 6;   // the worker begins an attempt (or reads back kept bytes)

constexpr unsigned TICKER_TIMER_ID = 123;
constexpr unsigned TICKER_PERIOD_MS = 500;
