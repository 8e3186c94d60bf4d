// Asks the configuration servers where the installation package lies.
#pragma once

// Redirects ("sUrl") followed per server before it counts as giving no
// usable answer.
constexpr int MAX_REDIRECTS_PER_SERVER = 16;

// Allocates the URL and response text buffers of the manager state (if not
// yet done), walks the primary server, then the fallback, through their
// redirects, and leaves the download base address ("sDlurl") in the URL
// buffer. True when it stands there.
bool DiscoverDownloadBase();

// Frees the two buffers; the manager window does it when it is destroyed.
void FreeTextBuffers();
