// Lookups in a configuration answer: fields "key=value" separated by "|",
// read from the response text buffer of the manager state.
#pragma once

#include <cstddef>
#include <cstdint>

// Position of the first character of key's value, or nullptr. A key counts
// only at the start of the text or right after "|", and only when "=" follows.
const char* FindValue(const char* key);

// Reads key as a 32-bit integer. The value may hold only digits and "-";
// it converts like atoi with 32-bit wrap-around. On failure out is untouched.
bool GetIntValue(const char* key, std::int32_t* out);

// With dst null: reports whether key is present. Otherwise copies the value
// into dst, each LF written as CR LF, NUL-terminated. A value whose expansion
// does not fit into dstSize bytes is refused (false, dst untouched): a cut
// address would only send the next request somewhere wrong.
bool GetStrValue(const char* key, char* dst, std::size_t dstSize);
