// Strings the program carries scrambled, so that they do not stand in the
// executable as plain text. Each is descrambled in place once, just before
// its first use, by the function that returns it.
#pragma once

const char* PrimaryServerAddress();
const char* FallbackServerAddress();
const char* DistributionKeyPath();
