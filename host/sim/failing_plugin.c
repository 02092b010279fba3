/* A plug-in that fails the way a broken one does, chosen by the environment
 * variable TOV_FAIL: "fatal" ends the process with the fatal-report status,
 * "crash" dies of a signal, anything else refuses to hand back callbacks. */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tov/plugin_abi.h"

__attribute__((visibility("default"))) void load_tov_champ_select_legacy(PluginHandshake* handshake) {
  const char* how = getenv("TOV_FAIL");
  if (how && strcmp(how, "fatal") == 0) _exit(3);
  if (how && strcmp(how, "crash") == 0) raise(SIGSEGV);
  handshake->callbacks = 0;
}
