#include "download/log_text.h"

#include <cstring>

namespace {

constexpr std::size_t kRoom = LOG_LINE_SIZE - 2;  // CR LF always fits after

void AddCharacter(LogLine* line, char c) {
    if (line->length >= kRoom) line->cut = true;
    if (!line->cut) line->text[line->length++] = c;
}

void AddEscaped(LogLine* line, unsigned char c) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (c > 0x20 && c < 0x7F) {
        AddCharacter(line, static_cast<char>(c));
        return;
    }
    if (line->length + 3 > kRoom) line->cut = true;  // an escape is never cut in two
    AddCharacter(line, '%');
    AddCharacter(line, kDigits[c >> 4]);
    AddCharacter(line, kDigits[c & 0xF]);
}

}  // namespace

void BeginLogLine(LogLine* line, std::uint32_t ms) {
    line->length = 0;
    line->cut = false;
    AddLogNumber(line, ms);
    AddLogText(line, " ms: ");
}

void AddLogText(LogLine* line, const char* text) {
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); at && *at; ++at)
        AddCharacter(line, *at < 0x20 || *at == 0x7F ? '?' : static_cast<char>(*at));
}

// 32-bit arithmetic only: 64-bit division would bring the compiler's
// run-time helpers (and their unwind tables) into the 32-bit program.
void AddLogNumber(LogLine* line, std::uint32_t value) {
    char digits[12];
    char* first = digits + sizeof digits - 1;
    *first = '\0';
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    AddLogText(line, first);
}

void AddLogHex(LogLine* line, std::uint32_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    AddLogText(line, "0x");
    for (int shift = 28; shift >= 0; shift -= 4) AddCharacter(line, kDigits[(value >> shift) & 0xF]);
}

namespace {

bool AtSeparator(const char* at) { return at[0] == ':' && at[1] == '/' && at[2] == '/'; }

}  // namespace

// The query and fragment go first. A user name and password stand in an
// authority: from the start, and after each "://", up to the next '/', '\\'
// or "://"; whatever stands there before its last '@' is left out. (Each
// "://" is taken as one: an address that a path or a malformed scheme hides
// inside another keeps no credentials either.)
void AddLogAddress(LogLine* line, const char* address) {
    if (!address) return;
    const char* end = address + std::strcspn(address, "?#");
    bool inAuthority = true;
    for (const char* at = address; at < end;) {
        if (inAuthority) {
            const char* stop = at;
            while (stop < end && *stop != '/' && *stop != '\\' && !AtSeparator(stop)) ++stop;
            for (const char* p = stop; p > at; --p) {
                if (p[-1] == '@') {
                    at = p;
                    break;
                }
            }
            inAuthority = false;
            continue;  // at may have reached the end
        }
        if (end - at >= 3 && AtSeparator(at)) {
            AddLogText(line, "://");
            at += 3;
            inAuthority = true;
        } else {
            AddEscaped(line, static_cast<unsigned char>(*at++));
        }
    }
}

void AddLogFormat(LogLine* line, const char* format, std::va_list arguments) {
    for (const char* at = format; *at; ++at) {
        if (at[0] != '%' || !at[1]) {
            AddCharacter(line, *at);
            continue;
        }
        switch (*++at) {
        case 's':
            AddLogText(line, va_arg(arguments, const char*));
            break;
        case 'a':
            AddLogAddress(line, va_arg(arguments, const char*));
            break;
        case 'u':
            AddLogNumber(line, va_arg(arguments, std::uint32_t));
            break;
        case 'd': {
            const std::int32_t value = va_arg(arguments, std::int32_t);
            if (value < 0) AddCharacter(line, '-');
            AddLogNumber(line, value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value));
            break;
        }
        case 'x':
            AddLogHex(line, va_arg(arguments, std::uint32_t));
            break;
        default:
            AddCharacter(line, *at);
        }
    }
}

std::size_t EndLogLine(LogLine* line) {
    if (line->length > kRoom) line->length = kRoom;
    line->text[line->length++] = '\r';
    line->text[line->length++] = '\n';
    return line->length;
}
