#include "pe_image.h"

#include <cstring>

namespace {

constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::uint64_t kSectionHeaderSize = 40;

std::uint32_t Get32(const unsigned char* b) {
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
}
std::uint16_t Get16(const unsigned char* b) { return static_cast<std::uint16_t>(b[0] | b[1] << 8); }

}  // namespace

std::string ReadPeLayout(const ReadAtFunction& readAt, std::uint64_t fileSize, PeLayout* layout) {
    *layout = PeLayout{};
    layout->fileSize = fileSize;
    unsigned char dos[64];
    if (fileSize < sizeof dos || !readAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return "not a Windows executable (no MZ header)";
    const std::uint64_t pe = Get32(dos + 0x3C);
    unsigned char coff[24];
    if (pe + sizeof coff > fileSize || !readAt(pe, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0)
        return "not a Windows executable (no PE header)";
    const std::uint64_t sections = Get16(coff + 6), optionalSize = Get16(coff + 20);
    const std::uint64_t optional = pe + sizeof coff;
    if (optional + optionalSize > fileSize) return "truncated PE optional header";
    std::vector<unsigned char> header(optionalSize);
    if (optionalSize && !readAt(optional, header.data(), header.size())) return "truncated PE optional header";
    if (optionalSize < 2) return "PE optional header missing";
    const std::uint16_t magic = Get16(header.data());
    const std::uint64_t countAt = magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0;
    if (!countAt) return "unknown PE optional header (neither PE32 nor PE32+)";
    if (countAt + 4 > optionalSize) return "truncated PE optional header";
    const std::uint64_t directories = countAt + 4, count = Get32(&header[countAt]);
    if (count > 16 || directories + 8 * count > optionalSize) return "PE data directories exceed the optional header";
    layout->checksumOffset = optional + 64;
    const std::uint64_t headersSize = Get32(&header[60]);
    if (headersSize > fileSize) return "PE headers extend past the end of the file (truncated)";

    const std::uint64_t table = optional + optionalSize;
    if (sections == 0) return "PE file has no sections";
    if (table + sections * kSectionHeaderSize > fileSize) return "truncated PE section table";
    std::uint64_t end = std::max(headersSize, table + sections * kSectionHeaderSize);
    for (std::uint64_t i = 0; i < sections; ++i) {
        unsigned char section[kSectionHeaderSize];
        if (!readAt(table + i * kSectionHeaderSize, section, sizeof section)) return "truncated PE section table";
        const std::uint64_t rawSize = Get32(section + 16), rawOffset = Get32(section + 20);
        if (rawSize == 0) continue;
        if (rawOffset + rawSize > fileSize) return "a PE section extends past the end of the file (truncated)";
        end = std::max(end, rawOffset + rawSize);
    }
    layout->imageEnd = end;

    if (count <= kSecurityDirectory) return "";  // no security directory: cannot be signed
    layout->securityEntry = optional + directories + 8 * kSecurityDirectory;
    const std::uint64_t offset = Get32(&header[directories + 8 * kSecurityDirectory]);
    const std::uint64_t size = Get32(&header[directories + 8 * kSecurityDirectory + 4]);
    if (offset == 0 && size == 0) return "";
    if (offset < end) return "the certificate table overlaps the PE headers or sections";
    if (offset % 8) return "the certificate table does not start on an 8-byte boundary";
    if (offset + size != fileSize) return "the certificate table does not end the file (data was appended after signing)";
    if (size < 8 || size > MAX_CERTIFICATE_TABLE) return "certificate table of an impossible size";
    layout->certificateOffset = offset;
    layout->certificateSize = size;
    layout->certificateTable.resize(size);
    if (!readAt(offset, layout->certificateTable.data(), size)) return "cannot read the certificate table";
    const Bytes& t = layout->certificateTable;
    for (std::uint64_t at = 0; at < size;) {
        const std::uint64_t length = at + 8 <= size ? Get32(&t[at]) : 0;
        if (length < 8 || length > size - at) return "malformed certificate table";
        layout->lastEntry = at;
        at += (length + 7) / 8 * 8;
    }
    return "";
}

void PeChecksum::Update(const unsigned char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i, ++offset_) {
        const unsigned byte = offset_ >= skipFrom_ && offset_ < skipFrom_ + 4 ? 0 : data[i];
        if (pendingLow_ < 0) {
            pendingLow_ = static_cast<int>(byte);
            continue;
        }
        sum_ += static_cast<unsigned>(pendingLow_) | byte << 8;
        sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
        pendingLow_ = -1;
    }
}

std::uint32_t PeChecksum::Finish() const {
    std::uint64_t sum = sum_;
    if (pendingLow_ >= 0) sum = ((sum + static_cast<unsigned>(pendingLow_)) & 0xFFFF) + ((sum + pendingLow_) >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + offset_);
}
