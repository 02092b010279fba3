#include "runtime/plugin_naming.h"

#include <cctype>

#include "binding/message_format.h"
#include "logging/logger.h"

namespace Vexa {

bool IsCompatible(const SemanticVersion& mine, const SemanticVersion& core) {
  if (core.major != mine.major) return false;
  return core.minor > mine.minor || (core.minor == mine.minor && core.patch >= mine.patch);
}

std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginKind& kind) {
  if (kind.name == "backend") return "plx-be-" + shortName;
  if (kind.name == "frontend") return "plx-fe-" + shortName;
  const std::string text =
      Format("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type", shortName, kind);
  Logging::Log(Logging::kError, Logging::kGroupDbg, "            Plugin Manager| %s", text.c_str());
  return "plx-xx-" + shortName;
}

std::string ApiNameFromShortName(const std::string& shortName) {
  std::string name;
  bool upper = true;
  for (unsigned char c : shortName) {
    if (!std::isalnum(c)) {
      upper = true;
      continue;
    }
    name += upper ? char(std::toupper(c)) : char(c);
    upper = false;
  }
  return name;
}

}  // namespace Vexa
