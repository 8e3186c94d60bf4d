#include "platform/network_timeouts.h"

// WinINet on Windows honours its connect, send and receive timeouts; Wine's
// honours none of them, nor does it abort a blocked call when its handle is
// closed. The fetch deadline and the download stall watchdog bound every wait
// on both. Discovery thus waits at most two server budgets (90 s) in all.
#ifdef TEMBRA_SHORT_TIMEOUTS
const unsigned CONNECT_TIMEOUT_MS = 2000;
const unsigned RECEIVE_TIMEOUT_MS = 3000;
const unsigned FETCH_DEADLINE_MS = 3000;
const unsigned DISCOVERY_SERVER_MS = 5000;
const unsigned DOWNLOAD_STALL_MS = 3000;
const unsigned RETRY_WAIT_DIVISOR = 10;
#else
const unsigned CONNECT_TIMEOUT_MS = 15000;
const unsigned RECEIVE_TIMEOUT_MS = 30000;
const unsigned FETCH_DEADLINE_MS = 30000;
const unsigned DISCOVERY_SERVER_MS = 45000;
const unsigned DOWNLOAD_STALL_MS = 30000;
const unsigned RETRY_WAIT_DIVISOR = 1;
#endif
