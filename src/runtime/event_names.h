// How the core names the events of resources and platform messages. Both
// sides of the boundary follow these rules (the plug-in to register and
// publish, the core stand-in to deliver), so they live in one place that
// needs nothing but the standard library.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace Vexa {

// "OnJsonApiEvent" and the URI's first three non-empty segments joined by
// "_" (five under "/tov-platform-config", whose values sit deeper).
inline std::string EventNameForUri(std::string_view uri) {
  std::string name = "OnJsonApiEvent";
  std::size_t parts = 1, keep = 4;
  for (std::size_t i = 0; i < uri.size() && parts < keep;) {
    const std::size_t end = std::min(uri.find('/', i), uri.size());
    if (end > i) {
      const std::string_view part = uri.substr(i, end - i);
      if (parts == 1 && part == "tov-platform-config") keep = 6;
      name += '_';
      name += part;
      ++parts;
    }
    i = end + 1;
  }
  return name;
}

// "OnLcdsEvent_" and the class name with every "." as "_".
inline std::string LcdsEventName(std::string_view className) {
  std::string name = "OnLcdsEvent_";
  name += className;
  std::replace(name.begin() + 12, name.end(), '.', '_');
  return name;
}

}  // namespace Vexa
