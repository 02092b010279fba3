/* The contract header must stay plain C. */
#include "tov/plugin_abi.h"

const TovPluginEntry tov_abi_c11_entry_type_check = 0;
