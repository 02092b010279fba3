// The plug-in's API as the core sees it in the exported records, written
// for people: as JSON ("full") or as epytext documentation.
#pragma once

#include <string>

#include "tov/plugin_abi.h"

namespace TovHost {

// {"functions":[...],"types":[...],"events":[...]}, indented.
std::string ApiAsJson(const ApiDescription& api);
// One block per function, type and event, epytext markup.
std::string ApiAsEpytext(const ApiDescription& api);
// "int32", "list[L{Trade}]", …: the epytext name of a type code.
std::string EpytextTypeName(uint32_t code, uint32_t elementCode, const char* typeName);

}  // namespace TovHost
