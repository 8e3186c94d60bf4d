#include "download/resume_record.h"

#include <cstring>

namespace {

constexpr std::uint8_t MAGIC[4] = {'T', 'D', 'M', 'R'};
constexpr std::size_t PIN_DIGEST_AT = 24;
constexpr std::size_t ADDRESS_AT = 56;
constexpr std::size_t VALIDATOR_AT = ADDRESS_AT + ADDRESS_BUFFER_SIZE;
constexpr std::size_t CHECK_AT = VALIDATOR_AT + VALIDATOR_SIZE;
static_assert(CHECK_AT + SHA256_DIGEST_SIZE == RESUME_RECORD_SIZE, "the layout fills the record");

void Put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Put64(std::uint8_t* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Get32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

std::uint64_t Get64(const std::uint8_t* at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

// The length of a text field that is terminated inside its size and holds
// only allowed characters: from minimum up (0x21 keeps blanks out, 0x20
// lets them in), never DEL. -1 for any other.
int TextLength(const char* field, std::size_t size, unsigned char minimum) {
    const void* end = std::memchr(field, '\0', size);
    if (!end) return -1;
    const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(end) - field);
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (c < minimum || c == 0x7F) return -1;
    }
    return static_cast<int>(length);
}

// The fields agree. What follows a text's terminator in the record is not
// looked at: the bytes hold NULs there.
bool IsConsistent(const ResumeRecord& record) {
    return TextLength(record.address, ADDRESS_BUFFER_SIZE, 0x21) > 0 &&
           TextLength(record.validator, VALIDATOR_SIZE, 0x20) >= 0 && record.pin.size >= 1 &&
           record.pin.size <= 0x7FFFFFFFu && record.bytesWritten <= record.pin.size && record.writtenAt != 0;
}

// A text field of the bytes: NULs only after its terminator, so that one
// record has one form.
bool IsPaddedWithNuls(const std::uint8_t* field, std::size_t size) {
    const void* end = std::memchr(field, '\0', size);
    if (!end) return false;
    for (const std::uint8_t* p = static_cast<const std::uint8_t*>(end); p != field + size; ++p)
        if (*p != 0) return false;
    return true;
}

// Copies a text terminated inside size bytes into a field of that size,
// NULs after it, whatever the text's buffer held there.
void PutText(std::uint8_t* field, const char* text, std::size_t size) {
    const std::size_t length =
        static_cast<std::size_t>(static_cast<const char*>(std::memchr(text, '\0', size)) - text);
    std::memcpy(field, text, length);
    std::memset(field + length, 0, size - length);
}

void Check(const std::uint8_t* bytes, std::uint8_t digest[SHA256_DIGEST_SIZE]) {
    Sha256 hash;
    Sha256Begin(&hash);
    Sha256Add(&hash, bytes, CHECK_AT);
    Sha256Finish(&hash, digest);
}

}  // namespace

bool SerializeResumeRecord(const ResumeRecord& record, std::uint8_t out[RESUME_RECORD_SIZE]) {
    if (!IsConsistent(record)) return false;
    std::memcpy(out, MAGIC, sizeof MAGIC);
    Put32(out + 4, RESUME_RECORD_VERSION);
    Put32(out + 8, record.pin.size);
    Put32(out + 12, record.bytesWritten);
    Put64(out + 16, record.writtenAt);
    std::memcpy(out + PIN_DIGEST_AT, record.pin.sha256, SHA256_DIGEST_SIZE);
    PutText(out + ADDRESS_AT, record.address, ADDRESS_BUFFER_SIZE);
    PutText(out + VALIDATOR_AT, record.validator, VALIDATOR_SIZE);
    Check(out, out + CHECK_AT);
    return true;
}

bool ParseResumeRecord(const std::uint8_t* data, std::size_t size, ResumeRecord* record) {
    if (size != RESUME_RECORD_SIZE || std::memcmp(data, MAGIC, sizeof MAGIC) != 0 ||
        Get32(data + 4) != RESUME_RECORD_VERSION)
        return false;
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    Check(data, digest);
    if (std::memcmp(digest, data + CHECK_AT, SHA256_DIGEST_SIZE) != 0 ||
        !IsPaddedWithNuls(data + ADDRESS_AT, ADDRESS_BUFFER_SIZE) ||
        !IsPaddedWithNuls(data + VALIDATOR_AT, VALIDATOR_SIZE))
        return false;
    ResumeRecord parsed;
    parsed.pin.size = Get32(data + 8);
    parsed.bytesWritten = Get32(data + 12);
    parsed.writtenAt = Get64(data + 16);
    std::memcpy(parsed.pin.sha256, data + PIN_DIGEST_AT, SHA256_DIGEST_SIZE);
    std::memcpy(parsed.address, data + ADDRESS_AT, ADDRESS_BUFFER_SIZE);
    std::memcpy(parsed.validator, data + VALIDATOR_AT, VALIDATOR_SIZE);
    if (!IsConsistent(parsed)) return false;
    std::memcpy(record, &parsed, sizeof parsed);
    return true;
}

bool ResumeRecordIsFresh(std::uint64_t writtenAt, std::uint64_t now) {
    return writtenAt <= now && now - writtenAt < RESUME_RECORD_MAX_AGE;
}

std::uint32_t KeptResumeOffset(const ResumeRecord& record, std::uint64_t fileLength) {
    if (fileLength < record.bytesWritten || fileLength > record.pin.size) return 0;
    return static_cast<std::uint32_t>(fileLength);
}
