/* Reads the clocks as the plug-in does: through the C library's
 * clock_gettime, bound when the library is loaded. */
#define _POSIX_C_SOURCE 200809L
#include <time.h>

void tov_probe_clocks(struct timespec* monotonic, struct timespec* wall) {
  clock_gettime(CLOCK_MONOTONIC, monotonic);
  clock_gettime(CLOCK_REALTIME, wall);
}
