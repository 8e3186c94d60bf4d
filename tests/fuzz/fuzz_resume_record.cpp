// The resume record read from arbitrary bytes, as a damaged or planted file
// would hold them: whatever is accepted is consistent and writes back to
// the very same bytes. A record built from the input is either refused by
// the writer or read back as written, and a kept file's length gives a
// place to go on from within it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "download/resume_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly sized, so that ASan sees any read past the end.
    const std::vector<std::uint8_t> input(data, data + size);
    ResumeRecord record;
    if (ParseResumeRecord(input.data(), input.size(), &record)) {
        if (record.bytesWritten > record.pin.size || record.pin.size == 0 || record.pin.size > 0x7FFFFFFFu ||
            !std::memchr(record.address, '\0', ADDRESS_BUFFER_SIZE) || record.address[0] == '\0')
            std::abort();
        std::uint8_t again[RESUME_RECORD_SIZE];
        if (!SerializeResumeRecord(record, again) || std::memcmp(again, input.data(), RESUME_RECORD_SIZE) != 0)
            std::abort();
    }

    // The input laid over a record's fields (a checked record is all but
    // never hit by chance, so the writer makes them).
    std::memset(&record, 0, sizeof record);
    std::size_t at = 0;
    auto take = [&](void* field, std::size_t n) {
        const std::size_t k = at < size ? (size - at < n ? size - at : n) : 0;
        std::memcpy(field, data + at, k);
        at += k;
    };
    take(&record.pin.size, sizeof record.pin.size);
    take(&record.bytesWritten, sizeof record.bytesWritten);
    take(&record.writtenAt, sizeof record.writtenAt);
    take(record.pin.sha256, sizeof record.pin.sha256);
    take(record.validator, 48);
    take(record.address, sizeof record.address);
    std::uint8_t bytes[RESUME_RECORD_SIZE];
    if (SerializeResumeRecord(record, bytes)) {
        ResumeRecord read;
        if (!ParseResumeRecord(bytes, sizeof bytes, &read) || read.bytesWritten != record.bytesWritten ||
            read.writtenAt != record.writtenAt || std::memcmp(&read.pin, &record.pin, sizeof read.pin) != 0 ||
            std::strcmp(read.address, record.address) != 0 || std::strcmp(read.validator, record.validator) != 0)
            std::abort();
        for (std::size_t cut = 0; cut < sizeof bytes; cut += 97)  // every truncation is refused
            if (ParseResumeRecord(bytes, cut, &read)) std::abort();
        // A kept file of any length goes on from its end within the record
        // and the pin, or starts over.
        std::uint64_t length = record.writtenAt ^ (std::uint64_t{record.bytesWritten} << 7);
        if (size % 3 == 0) length %= std::uint64_t{read.pin.size} + 2;
        const std::uint32_t from = KeptResumeOffset(read, length);
        if (from != 0 && (from != length || from < read.bytesWritten || from > read.pin.size)) std::abort();
    }
    return 0;
}
