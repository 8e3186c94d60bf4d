// The installer's pin: its size and SHA-256 as the final configuration
// answer gives them, in a field "sPin_<installer file name>=<size>:<hex>".
// The answer comes from the distributor's own servers; the download server
// or CDN that delivers the bytes need not be trusted, since the file must
// match the pin before it starts. Programs that know no pins ignore the
// field, as they ignore every key they do not read.
#pragma once

#include <cstddef>
#include <cstdint>

// SHA256_DIGEST_SIZE, without the hash's header: the host tool, which has a
// SHA-256 of its own, writes pins too.
constexpr std::size_t PIN_DIGEST_SIZE = 32;

struct InstallerPin {
    std::uint32_t size;                     // 1 to 0x7FFFFFFF, what the downloaded count can hold
    std::uint8_t sha256[PIN_DIGEST_SIZE];
};

constexpr char PIN_KEY_PREFIX[] = "sPin_";
// "<size>:<64 hex digits>" and its terminator, at the longest.
constexpr std::size_t PIN_TEXT_SIZE = 10 + 1 + 2 * PIN_DIGEST_SIZE + 1;
// A transfer that ends with other bytes than the pin's is tried once more
// from byte 0; the second mismatch ends the download.
constexpr int PIN_MISMATCH_LIMIT = 2;

// "<size>:<sha256>": decimal digits only for a size of 1 to 0x7FFFFFFF,
// then exactly 64 hex digits in either case, and nothing after them. On
// failure pin is untouched.
bool ParsePin(const char* value, InstallerPin* pin);

// The pin the response text holds for installerFileName. False when there
// is none, when it is malformed (the program then goes on as without a
// pin), or when the name is too long to be a key of ours.
bool FindInstallerPin(const char* installerFileName, InstallerPin* pin);

// Writes the pin as ParsePin reads it, lower-case hex (PIN_TEXT_SIZE bytes).
void FormatPin(const InstallerPin& pin, char text[PIN_TEXT_SIZE]);

// Whether a hash's digest is the pin's.
bool DigestMatchesPin(const InstallerPin& pin, std::uint32_t size, const std::uint8_t digest[PIN_DIGEST_SIZE]);
