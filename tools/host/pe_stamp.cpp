#include "pe_stamp.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "install/distribution_rules.h"

namespace {

constexpr std::size_t kAlignment = 8;  // certificate entries start on 8-byte boundaries
// The trailer inside a certificate entry, padded to the entry alignment.
constexpr std::size_t kPaddedTrailer = (TRAILER_SIZE + kAlignment - 1) / kAlignment * kAlignment;
constexpr std::size_t kSecurityDirectory = 4;

std::uint32_t Read32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}
std::uint16_t Read16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }
void Write32(Bytes* b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

std::size_t PeHeader(const Bytes& file) {
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return 0;
    const std::size_t pe = Read32(file, 0x3C);
    if (pe + 24 > file.size() || std::memcmp(&file[pe], "PE\0\0", 4) != 0) return 0;
    return pe;
}

bool EndsInTrailer(const Bytes& file, std::size_t end) {
    return end > TRAILER_SIZE && std::memcmp(&file[end - 4], TRAILER_MAGIC, 4) == 0;
}

}  // namespace

bool IsWindowsExecutable(const Bytes& file) { return PeHeader(file) != 0; }

std::string FindCertificateTable(const Bytes& file, CertificateTable* table) {
    const std::size_t pe = PeHeader(file);
    if (!pe) return "not a Windows executable (no MZ/PE header)";
    const std::size_t optional = pe + 24;
    if (optional + 2 > file.size()) return "truncated PE header";
    const std::uint16_t magic = Read16(file, optional);
    const std::size_t directories = magic == 0x20b ? optional + 112 : magic == 0x10b ? optional + 96 : 0;
    if (!directories) return "unknown PE optional header";
    if (directories + 8 * (kSecurityDirectory + 1) > file.size() || Read32(file, directories - 4) <= kSecurityDirectory)
        return "PE header has no security directory";
    *table = CertificateTable{};
    table->directoryEntry = directories + 8 * kSecurityDirectory;
    table->offset = Read32(file, table->directoryEntry);
    table->size = Read32(file, table->directoryEntry + 4);
    if (table->offset == 0 || table->size == 0) {
        table->offset = table->size = 0;
        return "";
    }
    if (table->offset + table->size != file.size())
        return "the certificate table does not end the file (data was appended after signing)";
    for (std::size_t at = table->offset; at < file.size();) {
        const std::uint32_t length = at + 8 <= file.size() ? Read32(file, at) : 0;
        if (length < 8 || length > file.size() - at) return "malformed certificate table";
        table->lastEntry = at;
        at += (length + kAlignment - 1) / kAlignment * kAlignment;
    }
    return "";
}

std::string StampTrailer(Bytes* file, const char* firstPart, const char* secondPart) {
    unsigned char trailer[TRAILER_SIZE];
    if (!BuildTrailer(firstPart, secondPart, trailer))
        return "first part takes at most 11 characters, second part at most 20";
    CertificateTable table;
    const std::string error = FindCertificateTable(*file, &table);
    if (!error.empty() && error.rfind("not a Windows", 0) != 0) return error;

    if (table.offset == 0) {  // unsigned (or not a PE file at all): a plain trailer at the end
        if (EndsInTrailer(*file, file->size())) file->resize(file->size() - TRAILER_SIZE);
        file->insert(file->end(), trailer, trailer + TRAILER_SIZE);
        return "";
    }
    // Signed: drop an earlier padded trailer, then grow the last entry by a new one.
    std::size_t entryLength = file->size() - table.lastEntry;
    const std::size_t padding = kPaddedTrailer - TRAILER_SIZE;
    const auto end = file->end();
    if (EndsInTrailer(*file, file->size()) && entryLength >= 8 + kPaddedTrailer &&
        std::all_of(end - kPaddedTrailer, end - TRAILER_SIZE, [](unsigned char c) { return c == 0; })) {
        file->resize(file->size() - kPaddedTrailer);
        table.size -= kPaddedTrailer;
        entryLength -= kPaddedTrailer;
    }
    file->insert(file->end(), padding, 0);
    file->insert(file->end(), trailer, trailer + TRAILER_SIZE);
    Write32(file, table.directoryEntry + 4, static_cast<std::uint32_t>(table.size + kPaddedTrailer));
    Write32(file, table.lastEntry, static_cast<std::uint32_t>(entryLength + kPaddedTrailer));
    return "";
}
