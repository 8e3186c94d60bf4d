// The host tool's PE and certificate-table reader and the stamp planner on
// arbitrary bytes: whatever a file holds, reading stays inside it, and a
// planned signed stamp ends in the trailer on an entry of 8-byte multiple.
#include <cstdint>
#include <cstring>

#include "pe_image.h"
#include "stamp_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto readAt = [data, size](std::uint64_t offset, void* buffer, std::size_t n) {
        if (offset > size || n > size - offset) return false;
        std::memcpy(buffer, data + offset, n);
        return true;
    };
    PeLayout layout;
    if (!ReadPeLayout(readAt, size, &layout).empty()) return 0;
    if (layout.imageEnd > size || layout.checksumOffset + 4 > size) __builtin_trap();
    if (layout.certificateOffset && (layout.certificateOffset < layout.imageEnd ||
                                     layout.certificateOffset + layout.certificateSize != size))
        __builtin_trap();
    unsigned char trailer[TRAILER_SIZE];
    BuildTrailer("FUZZ", "PLAN", trailer);
    StampPlan plan;
    if (!PlanStamp(layout, data + size - TRAILER_SIZE, trailer, &plan).empty()) return 0;
    if (plan.copyLength > size || plan.tail.size() < TRAILER_SIZE ||
        std::memcmp(plan.tail.data() + plan.tail.size() - TRAILER_SIZE, trailer, TRAILER_SIZE) != 0)
        __builtin_trap();
    if (layout.certificateOffset && plan.tail.size() % 8 != 0) __builtin_trap();
    return 0;
}
