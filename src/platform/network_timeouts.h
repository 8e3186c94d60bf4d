// How long the program waits on the network. Constants of the program,
// defined in network_timeouts.cpp; the test build of the program links a
// shortened set so that the fault tests stay fast.
#pragma once

extern const unsigned CONNECT_TIMEOUT_MS;    // WinINet: connecting to a server
extern const unsigned RECEIVE_TIMEOUT_MS;    // WinINet: sending, or waiting for the next bytes
extern const unsigned FETCH_DEADLINE_MS;     // one configuration answer or info file, as a whole
extern const unsigned DISCOVERY_SERVER_MS;   // one configuration server's chain of redirects
extern const unsigned DOWNLOAD_STALL_MS;     // the installer transfer without a byte arriving
extern const unsigned RETRY_WAIT_DIVISOR;    // the waits between download attempts, divided by this
