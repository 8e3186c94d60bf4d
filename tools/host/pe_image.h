// The layout of a PE file as far as stamping needs it, read through a
// callback so that the same reader serves files on disk and the fuzzer's
// byte buffers. A file counts as a Windows executable only when its whole
// header, its section table, its data directories and every section's raw
// data lie inside it, and a certificate table (if any) lies after all of
// them and ends the file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;
// Reads exactly n bytes at offset; false when it cannot.
using ReadAtFunction = std::function<bool(std::uint64_t offset, void* buffer, std::size_t n)>;

// The largest certificate table the tool reads into memory. Authenticode
// signatures are a few KiB; a nested or timestamped one some tens.
constexpr std::uint64_t MAX_CERTIFICATE_TABLE = 16u << 20;

struct PeLayout {
    std::uint64_t fileSize = 0;
    std::uint64_t checksumOffset = 0;   // the optional header's CheckSum field
    std::uint64_t securityEntry = 0;    // the security directory entry; 0 when there is none
    std::uint64_t imageEnd = 0;         // end of the headers and of every section's raw data
    std::uint64_t certificateOffset = 0;  // 0 when the file is not signed
    std::uint64_t certificateSize = 0;
    std::uint64_t lastEntry = 0;        // offset of the last WIN_CERTIFICATE, relative to the table
    Bytes certificateTable;             // the table's bytes when signed
};

// Reads the layout. Returns an error text ("truncated section table", ...)
// or empty on success.
std::string ReadPeLayout(const ReadAtFunction& readAt, std::uint64_t fileSize, PeLayout* layout);

// The PE checksum as the loader and signing tools compute it, accumulated
// over the bytes of a file in order (the CheckSum field itself counted as 0).
class PeChecksum {
public:
    explicit PeChecksum(std::uint64_t checksumOffset) : skipFrom_(checksumOffset) {}
    void Update(const unsigned char* data, std::size_t n);
    std::uint32_t Finish() const;  // folds and adds the length

private:
    std::uint64_t skipFrom_, offset_ = 0, sum_ = 0;
    int pendingLow_ = -1;  // low byte of a word split between two pieces
};
