#include "bridge/request_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace TovBridge {
namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

namespace {

bool NamesAddress(std::string_view name, std::string_view address) {
  if (address.empty()) return false;
  if (address.find(':') != std::string_view::npos)  // IPv6
    return name.size() == address.size() + 2 && name.front() == '[' && name.back() == ']' &&
           SameText(name.substr(1, name.size() - 2), address);
  return SameText(name, address);
}

}  // namespace

bool HostAllowed(std::string_view hostHeader, std::string_view boundAddress, std::string_view localAddress, int port) {
  const std::string_view host = Trim(hostHeader);
  std::string suffix(1, ':');
  suffix += std::to_string(port);
  if (host.size() <= suffix.size() || host.substr(host.size() - suffix.size()) != suffix) return false;
  const std::string_view name = host.substr(0, host.size() - suffix.size());
  return SameText(name, "localhost") || NamesAddress(name, boundAddress) || NamesAddress(name, localAddress);
}

bool WantsMessagePack(std::string_view accept) {
  while (!accept.empty()) {
    const size_t comma = accept.find(',');
    std::string_view item = accept.substr(0, comma);
    accept = comma == std::string_view::npos ? std::string_view{} : accept.substr(comma + 1);
    const size_t semicolon = item.find(';');
    const std::string_view type = Trim(item.substr(0, semicolon));
    if (!SameText(type, "application/x-msgpack")) continue;
    if (semicolon == std::string_view::npos) return true;
    // "q=0" (or 0.0…) means "not this"; any other parameter leaves it wanted.
    std::string_view params = item.substr(semicolon + 1);
    bool refused = false;
    while (!params.empty()) {
      const size_t next = params.find(';');
      const std::string_view param = Trim(params.substr(0, next));
      params = next == std::string_view::npos ? std::string_view{} : params.substr(next + 1);
      if (param.size() > 2 && (param[0] == 'q' || param[0] == 'Q') && param[1] == '=') {
        const std::string value(param.substr(2));
        char* end = nullptr;
        const double q = std::strtod(value.c_str(), &end);
        refused = end == value.c_str() || !(q > 0);
      }
    }
    if (!refused) return true;
  }
  return false;
}

std::string ConsoleFile(std::string_view path) {
  if (path.empty() || path.front() != '/') return "";
  path.remove_prefix(1);
  if (path.empty()) return "index.html";
  std::string file;
  while (true) {
    const size_t slash = path.find('/');
    const std::string_view segment = path.substr(0, slash);
    // Empty segments ("//etc", "a//b") and a trailing slash are refused as
    // well: they only ever come from a crafted path.
    if (segment.empty() || segment.front() == '.') return "";
    for (const char c : segment)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\' || c == ':') return "";
    file.append(segment);
    if (slash == std::string_view::npos) return file;
    file.push_back('/');
    path.remove_prefix(slash + 1);
  }
}

std::string ContentTypeOf(std::string_view file) {
  const size_t dot = file.rfind('.');
  const std::string_view ext = dot == std::string_view::npos ? std::string_view{} : file.substr(dot + 1);
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {{"html", "text/html; charset=utf-8"},  {"css", "text/css; charset=utf-8"},
                {"js", "text/javascript; charset=utf-8"}, {"mjs", "text/javascript; charset=utf-8"},
                {"json", "application/json"},           {"svg", "image/svg+xml"},
                {"png", "image/png"},                   {"ico", "image/x-icon"},
                {"txt", "text/plain; charset=utf-8"},     {"webmanifest", "application/manifest+json"}};
  for (const auto& known : kTypes)
    if (SameText(ext, known.ext)) return known.type;
  return "application/octet-stream";
}

}  // namespace TovBridge
