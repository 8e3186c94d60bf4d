// The small record kept beside a partial download, so that a later run can
// go on from the bytes already there: where they came from, the pin they
// must add up to, the validator for If-Range and how many there are.
//
// The record's own SHA-256 catches a torn or damaged record, not a forged
// one: anyone who can write the record can write the partial file too. What
// protects the installer is the pin: the whole file, resumed or not, must
// match it before it starts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "download/constants.h"
#include "download/installer_pin.h"
#include "download/retry_rules.h"
#include "install/sha256.h"

// Little-endian, fixed size:
//   0   "TDMR"                 magic
//   4   u32 version            RESUME_RECORD_VERSION
//   8   u32 pin size
//   12  u32 bytes written      at most the pin size
//   16  u64 written at         100 ns units since 1601 (a FILETIME, UTC)
//   24  pin SHA-256            32 bytes
//   56  address                ADDRESS_BUFFER_SIZE bytes, NUL-padded
//   ..  validator              VALIDATOR_SIZE bytes, NUL-padded (may be empty)
//   ..  SHA-256 of all the bytes before it
constexpr std::uint32_t RESUME_RECORD_VERSION = 1;
constexpr std::size_t RESUME_RECORD_SIZE = 56 + ADDRESS_BUFFER_SIZE + VALIDATOR_SIZE + SHA256_DIGEST_SIZE;
// A partial older than this is not resumed (and may be cleaned up).
constexpr std::uint64_t RESUME_RECORD_MAX_AGE = 7ull * 24 * 3600 * 10000000;

struct ResumeRecord {
    char address[ADDRESS_BUFFER_SIZE];  // the address the bytes and the validator came from
    InstallerPin pin;
    char validator[VALIDATOR_SIZE];     // ETag or Last-Modified of that address; empty: none
    std::uint32_t bytesWritten;
    std::uint64_t writtenAt;
};

// Writes the record's bytes, each text followed by NULs to its field's end
// whatever its buffer held after the terminator. Refuses, writing nothing,
// a record that ParseResumeRecord would refuse, so the program never leaves
// one it cannot read again.
bool SerializeResumeRecord(const ResumeRecord& record, std::uint8_t out[RESUME_RECORD_SIZE]);

// Reads size bytes as a record. Refuses anything but exactly
// RESUME_RECORD_SIZE bytes of the current version whose check matches and
// whose fields agree: an address that is empty, unterminated or holds a
// blank or control character; a validator that is unterminated or holds a
// control character (it is sent as a header); anything but NULs after a
// terminator; a pin size of 0 or above 0x7FFFFFFF; more bytes written than
// the pin's size; no time. On failure record is untouched.
bool ParseResumeRecord(const std::uint8_t* data, std::size_t size, ResumeRecord* record);

// Whether a record written at writtenAt is younger than RESUME_RECORD_MAX_AGE
// at now (same units). One from the future (a clock set back) is not: the
// partial's age is then unknown.
bool ResumeRecordIsFresh(std::uint64_t writtenAt, std::uint64_t now);

// Where a run goes on with a kept partial file of fileLength bytes that
// record describes. The record is rewritten now and then, not after every
// read, so its count is a floor: the file held at least that many bytes of
// this download when it was written. Every byte in the file was written by
// the program, in order, so the run goes on from the file's end. A file
// shorter than the record's count has been cut since, and one longer than
// the pin cannot be the file: both start over from 0. (Whatever else
// happened to the bytes, the pin finds at the end.)
std::uint32_t KeptResumeOffset(const ResumeRecord& record, std::uint64_t fileLength);
