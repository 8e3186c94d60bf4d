// Strings the program carries scrambled, so that they do not stand in the
// executable as plain text. Each is descrambled in place once, just before
// its first use, by the function that returns it.
#pragma once

const char* PrimaryServerAddress();
const char* FallbackServerAddress();
const char* DistributionKeyPath();

// The publisher (certificate common name) whose Authenticode signature the
// downloaded installer must carry; empty when the build asks for no check.
// A public name, so it is not scrambled.
const char* InstallerSigner();

// Whether the build refuses download bases that are not https://
// (TEMBRA_REQUIRE_HTTPS_DOWNLOAD, on in a distributor's release build).
bool RequireHttpsDownload();

// Whether every configuration address must be https://, the servers' own
// redirects (sUrl) and the HTTP redirects on the way included: a release
// build that does not allow http (one plain hop would let anyone on the path
// choose the download base).
bool RequireHttpsConfiguration();
