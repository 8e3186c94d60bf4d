// Where a copy of the program carries its distribution ID: a 35-byte trailer
// at the end of its own file, or else its file name.
//
// Trailer, counted from the end of the file:
//   -35  20 bytes  second part (cut at the first NUL)
//   -15  11 bytes  first part  (cut at the first NUL)
//    -4   4 bytes  "DLID"
#pragma once

#include <cstddef>

constexpr std::size_t TRAILER_SIZE = 35;
constexpr std::size_t TRAILER_SECOND_PART_SIZE = 20;
constexpr std::size_t TRAILER_FIRST_PART_SIZE = 11;
extern const char TRAILER_MAGIC[5];  // "DLID"

// tail holds the file's last min(fileSize, 35) bytes. A trailer counts only
// when the file is longer than the trailer (the program's seeks must land
// past the file's start). On success id holds "first_second".
bool ParseTrailer(const unsigned char* tail, long fileSize, char* id, std::size_t idSize);

// The name rule: the characters of the base name after "tembra" (any case)
// up to the first "."; an empty ID for any other name. False only when the
// path ends in a backslash (there is no name). A leading double quote of the
// base name is skipped.
bool IdFromModulePath(const char* path, char* id, std::size_t idSize);

// Builds the 35-byte trailer for the stamping tool. False when a part is
// longer than its field.
bool BuildTrailer(const char* firstPart, const char* secondPart, unsigned char trailer[TRAILER_SIZE]);
