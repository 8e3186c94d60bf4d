/* For the quick exit's test: a Unix exit handler that takes a second, as a
 * stalled machine's would. */
#include <stdlib.h>
#include <unistd.h>

static void take_a_second(void) { usleep(1000000); }

__attribute__((constructor)) static void register_handler(void) { atexit(take_a_second); }
