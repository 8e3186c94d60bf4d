// Lines of the support log, composed without the C run-time's formatting
// (which would add 20 KiB to the program). Portable: the Windows layer
// writes what these compose (platform/support_log.h).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

constexpr std::size_t LOG_LINE_SIZE = 512;  // bytes of one line, CR LF included; longer ones are cut

struct LogLine {
    char text[LOG_LINE_SIZE];
    std::size_t length;  // at most LOG_LINE_SIZE - 2: room stays for CR LF
    bool cut;            // something did not fit: nothing more is added
};

// Starts a line with the ms since the log began: "1234 ms: ".
void BeginLogLine(LogLine* line, std::uint32_t ms);

// Appends text as it stands, control characters as '?' (so no line can
// split or forge another).
void AddLogText(LogLine* line, const char* text);

void AddLogNumber(LogLine* line, std::uint32_t value);
// 0x followed by eight hexadecimal digits, for HRESULTs.
void AddLogHex(LogLine* line, std::uint32_t value);

// Appends an address as scheme://host/path only: whatever user name and
// password stand before the host, the query and the fragment are left out,
// and bytes outside printable ASCII are written %XX. Text without "://"
// is taken as from the host on.
void AddLogAddress(LogLine* line, const char* address);

// Appends format, whose %s stands for a text (AddLogText), %a for an address
// (AddLogAddress), %u for an unsigned and %d for a signed 32-bit number, %x
// for a hexadecimal one (AddLogHex); every other character as it stands.
void AddLogFormat(LogLine* line, const char* format, std::va_list arguments);

// Ends the line with CR LF; returns its length.
std::size_t EndLogLine(LogLine* line);
