// The plug-in's routes as an OpenAPI 3.1 document, made from the function,
// type and event records it exports, for HTTP clients of the bridge and for
// tools that generate clients from such documents.
//
//   std::string json = TovBridge::OpenApiJson(*handshake.apiDescription, "1.2.0");
#pragma once

#include <string>
#include <string_view>

#include "tov/plugin_abi.h"

namespace TovBridge {

// The document as indented JSON text, the same for the same records. Every
// record appears: one that no request can reach (a custom or unknown method,
// a path template that does not start with "/", a second function at the
// same method and path) is listed under "x-unlisted-operations" with the
// reason, and an argument that no request can give under its operation's
// "x-unbound-arguments". `version` becomes info.version.
std::string OpenApiJson(const ApiDescription& api, std::string_view version = "1");

}  // namespace TovBridge
