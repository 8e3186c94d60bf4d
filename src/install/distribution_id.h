// The distribution ID of this copy of the program, recorded in the registry.
#pragma once

#include <cstddef>

// Empties id, then takes the ID from the trailer of the program's own file
// or, without one, from its file name. False only when the program's own
// path is unusable (id stays empty).
bool ReadDistributionId(char* id, std::size_t idSize);

// Writes id as the default value (REG_SZ) of the distribution key under
// HKEY_LOCAL_MACHINE. Reports success whatever the registry did: a user who
// may not write there still gets the download.
bool StoreDistributionId(const char* id);
