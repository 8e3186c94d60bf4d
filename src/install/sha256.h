#pragma once
// SHA-256 (FIPS 180-4) of what the worker writes and of the file it checks
// before the installer starts. Its own code rather than the system's
// provider: the hash runs on every read of the download, and this one uses
// the processor's SHA instructions where they exist, at well over a line's
// rate, whatever provider the system has.

#include <cstddef>
#include <cstdint>

constexpr std::size_t SHA256_DIGEST_SIZE = 32;

struct Sha256 {
    std::uint32_t state[8];
    std::uint64_t length;      // bytes added so far
    std::uint8_t pending[64];  // the part of a block not yet compressed
    bool shaInstructions;      // chosen at the start, once per hash (the program runs no static constructors)
};

void Sha256Begin(Sha256* hash);
void Sha256Add(Sha256* hash, const void* data, std::size_t size);
void Sha256Finish(Sha256* hash, std::uint8_t digest[SHA256_DIGEST_SIZE]);

// Whether a hash begun now compresses with the processor's SHA instructions.
bool Sha256UsesShaInstructions();

// Tests set this to run the portable rounds where the processor has SHA
// instructions too.
extern bool g_sha256PortableOnly;
