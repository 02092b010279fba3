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
// "int64", "struct", … for a type code of the records; "" when unknown.
const char* TypeCodeName(uint32_t code);
// "query", "path", "header", "body", or "any" for every other location code.
const char* ArgumentLocationName(uint32_t location);
// "int32", "list[L{Trade}]", …: the epytext name of a type code.
std::string EpytextTypeName(uint32_t code, uint32_t elementCode, const char* typeName);

}  // namespace TovHost
