// Further download bases that the final configuration answer names beside
// "sDlurl", in order: "sMirror1=<base>|sMirror2=<base>...". The worker moves
// to the next base when one fails, and round again.
#pragma once

#include <cstddef>

#include "download/constants.h"

constexpr int MAX_MIRRORS = 4;
constexpr char MIRROR_KEY_PREFIX[] = "sMirror";

// Copies the mirrors of the response text into bases, in their order, and
// returns how many it kept (at most max and MAX_MIRRORS); it writes no other
// slot. The numbering ends at the first number missing. An empty mirror,
// and one that would not fit the download address with installerFileName
// appended, is skipped whole, never cut: a cut address would only fetch
// something else.
int ReadMirrors(char bases[][ADDRESS_BUFFER_SIZE], int max, const char* installerFileName);

// The base to try after base current of count (the answer's "sDlurl" is 0,
// the mirrors follow), skipping the bases whose bit in finalBases is set:
// those gave an answer that will not change (a 404 or another final 4xx).
// -1 when every base did: the download ends. A current outside 0 to
// count - 1 stands for "none yet": base 0 comes first.
int NextDownloadBase(int current, int count, unsigned finalBases);
