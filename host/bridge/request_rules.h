// What the bridge decides about a request before anything else sees it:
// whether its Host may reach us at all, which format the client accepts,
// and which console file a path names.
#pragma once

#include <string>
#include <string_view>

namespace TovBridge {

// A Host header naming, with our port, the address we are bound to, the
// address the connection came in on (an IP address is never rebound by DNS;
// it matters when bound to all interfaces) or "localhost". Anything else (a
// name that resolved to us by DNS rebinding, another port, a missing header)
// is refused, so a page from elsewhere cannot drive the plug-in. Names
// compare without case; IPv6 addresses come in brackets.
bool HostAllowed(std::string_view hostHeader, std::string_view boundAddress, std::string_view localAddress, int port);

// Whether an Accept header asks for MessagePack ("application/x-msgpack",
// with a quality above 0) over JSON.
bool WantsMessagePack(std::string_view accept);

// The console file a request path names, relative to the console directory
// ("/" is "index.html"); empty when the path is not one we serve: ".."
// segments, empty segments, backslashes, control bytes, hidden files.
std::string ConsoleFile(std::string_view path);

// The content type of a console file by its extension.
std::string ContentTypeOf(std::string_view file);

}  // namespace TovBridge
