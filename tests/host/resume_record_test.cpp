#include "download/resume_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

ResumeRecord SampleRecord() {
    ResumeRecord record;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.address, "https://dl.example.com/orvane/p_Vrimal_reg_ENG.exe");
    record.pin.size = 1000000;
    for (std::size_t i = 0; i < SHA256_DIGEST_SIZE; ++i) record.pin.sha256[i] = static_cast<std::uint8_t>(i * 7);
    std::strcpy(record.validator, "\"5e1f-61a3b2c4\"");
    record.bytesWritten = 400000;
    record.writtenAt = 133000000000000000ull;  // a FILETIME in 2022
    return record;
}

std::vector<std::uint8_t> Bytes(const ResumeRecord& record) {
    std::vector<std::uint8_t> bytes(RESUME_RECORD_SIZE);
    EXPECT_TRUE(SerializeResumeRecord(record, bytes.data()));
    return bytes;
}

// The documented layout, written out here without any rule: it pins the
// format, and it makes sealed records that the writer would refuse.
std::vector<std::uint8_t> RawBytes(const ResumeRecord& r) {
    std::vector<std::uint8_t> b(RESUME_RECORD_SIZE, 0);
    std::memcpy(&b[0], "TDMR", 4);
    auto put = [&b](std::size_t at, std::uint64_t value, int n) {
        for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(4, RESUME_RECORD_VERSION, 4);
    put(8, r.pin.size, 4);
    put(12, r.bytesWritten, 4);
    put(16, r.writtenAt, 8);
    std::memcpy(&b[24], r.pin.sha256, 32);
    std::memcpy(&b[56], r.address, ADDRESS_BUFFER_SIZE);
    std::memcpy(&b[56 + ADDRESS_BUFFER_SIZE], r.validator, VALIDATOR_SIZE);
    Sha256 hash;
    Sha256Begin(&hash);
    Sha256Add(&hash, b.data(), RESUME_RECORD_SIZE - 32);
    Sha256Finish(&hash, &b[RESUME_RECORD_SIZE - 32]);
    return b;
}

TEST(ResumeRecord, ReadsBackWhatWasWritten) {
    const ResumeRecord record = SampleRecord();
    const std::vector<std::uint8_t> bytes = Bytes(record);
    EXPECT_EQ(bytes, RawBytes(record)) << "laid out as documented";
    ResumeRecord read;
    ASSERT_TRUE(ParseResumeRecord(bytes.data(), bytes.size(), &read));
    EXPECT_EQ(std::memcmp(&read.pin, &record.pin, sizeof record.pin), 0);
    EXPECT_STREQ(read.address, record.address);
    EXPECT_STREQ(read.validator, record.validator);
    EXPECT_EQ(read.bytesWritten, record.bytesWritten);
    EXPECT_EQ(read.writtenAt, record.writtenAt);
    EXPECT_EQ(Bytes(read), bytes) << "the same record, the same bytes";

    ResumeRecord edge = record;  // no validator, the whole file kept, Last-Modified with blanks
    edge.validator[0] = '\0';
    edge.bytesWritten = edge.pin.size;
    ASSERT_TRUE(ParseResumeRecord(Bytes(edge).data(), RESUME_RECORD_SIZE, &read));
    EXPECT_EQ(read.validator[0], '\0');
    std::strcpy(edge.validator, "Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_TRUE(ParseResumeRecord(Bytes(edge).data(), RESUME_RECORD_SIZE, &read));
}

TEST(ResumeRecord, RefusesWhatIsMalformedTruncatedOrInconsistent) {
    // Records the writer refuses too, so the program never leaves one it cannot read.
    const struct {
        const char* name;
        std::function<void(ResumeRecord*)> change;
    } inconsistent[] = {
        {"more written than the pin's size", [](ResumeRecord* r) { r->bytesWritten = r->pin.size + 1; }},
        {"pin size 0", [](ResumeRecord* r) { r->pin.size = 0, r->bytesWritten = 0; }},
        {"pin size 2 GiB", [](ResumeRecord* r) { r->pin.size = 0x80000000u; }},
        {"no time", [](ResumeRecord* r) { r->writtenAt = 0; }},
        {"empty address", [](ResumeRecord* r) { std::memset(r->address, 0, sizeof r->address); }},
        {"blank in the address", [](ResumeRecord* r) { r->address[5] = ' '; }},
        {"control in the address", [](ResumeRecord* r) { r->address[5] = '\n'; }},
        {"address unterminated", [](ResumeRecord* r) { std::memset(r->address, 'a', sizeof r->address); }},
        {"CR LF in the validator", [](ResumeRecord* r) { std::strcpy(r->validator, "\"a\"\r\nX-Injected: 1"); }},
        {"DEL in the validator", [](ResumeRecord* r) { r->validator[1] = 0x7F; }},
        {"validator unterminated", [](ResumeRecord* r) { std::memset(r->validator, 'v', sizeof r->validator); }},
    };
    std::uint8_t untouched[RESUME_RECORD_SIZE];
    std::memset(untouched, 0xA5, sizeof untouched);
    for (const auto& c : inconsistent) {
        ResumeRecord record = SampleRecord();
        c.change(&record);
        std::uint8_t out[RESUME_RECORD_SIZE];
        std::memset(out, 0xA5, sizeof out);
        EXPECT_FALSE(SerializeResumeRecord(record, out)) << c.name;
        EXPECT_EQ(std::memcmp(out, untouched, sizeof out), 0) << c.name << ": nothing written";
        const std::vector<std::uint8_t> sealed = RawBytes(record);  // well sealed, yet inconsistent
        ResumeRecord read;
        EXPECT_FALSE(ParseResumeRecord(sealed.data(), sealed.size(), &read)) << c.name;
    }

    // What a buffer held after a text's terminator is not written; bytes
    // that hold something there are not a record.
    ResumeRecord leftover = SampleRecord();
    leftover.address[ADDRESS_BUFFER_SIZE - 1] = 'x';
    leftover.validator[VALIDATOR_SIZE - 1] = 'v';
    const std::vector<std::uint8_t> good = Bytes(SampleRecord());
    EXPECT_EQ(Bytes(leftover), good);
    ResumeRecord read;
    EXPECT_FALSE(ParseResumeRecord(RawBytes(leftover).data(), RESUME_RECORD_SIZE, &read));

    // Records damaged after they were written.
    const struct {
        const char* name;
        std::function<void(std::vector<std::uint8_t>*)> damage;
    } damaged[] = {
        {"truncated", [](std::vector<std::uint8_t>* b) { b->pop_back(); }},
        {"one byte more", [](std::vector<std::uint8_t>* b) { b->push_back(0); }},
        {"empty", [](std::vector<std::uint8_t>* b) { b->clear(); }},
        {"one bit of the count flipped", [](std::vector<std::uint8_t>* b) { (*b)[12] ^= 1; }},
        {"one bit of the pin flipped", [](std::vector<std::uint8_t>* b) { (*b)[40] ^= 0x80; }},
        {"the check flipped", [](std::vector<std::uint8_t>* b) { b->back() ^= 1; }},
        {"another magic", [](std::vector<std::uint8_t>* b) { (*b)[0] = 'X'; }},
        {"version 2", [](std::vector<std::uint8_t>* b) { (*b)[4] = 2; }},
    };
    for (const auto& c : damaged) {
        std::vector<std::uint8_t> bytes = good;
        c.damage(&bytes);
        ResumeRecord record = SampleRecord();
        record.bytesWritten = 12345;
        EXPECT_FALSE(ParseResumeRecord(bytes.data(), bytes.size(), &record)) << c.name;
        EXPECT_EQ(record.bytesWritten, 12345u) << c.name << ": the record is untouched";
    }
}

TEST(ResumeRecord, IsFreshForUnderSevenDaysAndNeverFromTheFuture) {
    const std::uint64_t day = 24ull * 3600 * 10000000, at = 133000000000000000ull;
    EXPECT_TRUE(ResumeRecordIsFresh(at, at));
    EXPECT_TRUE(ResumeRecordIsFresh(at, at + 7 * day - 1));
    EXPECT_FALSE(ResumeRecordIsFresh(at, at + 7 * day));
    EXPECT_FALSE(ResumeRecordIsFresh(at, at - 1));
    EXPECT_FALSE(ResumeRecordIsFresh(~0ull, 0));
}

// The record's count is a floor of the bytes in the file: the run goes on
// from the file's end, unless the file was cut below the count or grew past
// the pin.
TEST(KeptResumeOffset, GoesOnFromTheFilesEndWithinTheRecordAndThePin) {
    const ResumeRecord record = SampleRecord();  // 400,000 recorded of 1,000,000
    const struct {
        std::uint64_t fileLength;
        std::uint32_t expected;
    } cases[] = {
        {400000, 400000},  {400001, 400001}, {999999, 999999},  {1000000, 1000000},
        {399999, 0},       {0, 0},           {1000001, 0},      {~0ull, 0},
        {(1ull << 32) + 400000, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(KeptResumeOffset(record, c.fileLength), c.expected) << c.fileLength;
    ResumeRecord none = record;
    none.bytesWritten = 0;
    EXPECT_EQ(KeptResumeOffset(none, 0), 0u);
    EXPECT_EQ(KeptResumeOffset(none, 1), 1u);
}

}  // namespace
