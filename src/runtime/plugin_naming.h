// Version compatibility and plug-in naming.
#pragma once

#include <string>

#include "binding/semantic_version.h"

namespace Vexa {

// The plug-in API version this plug-in implements.
inline constexpr uint32_t kPluginApiMajor = 18, kPluginApiMinor = 0, kPluginApiPatch = 0;

// A core may run a plug-in built for the same major version and an older or
// equal minor.patch; the text parts do not matter.
// A version of three numbers with empty texts, as it crosses the boundary.
inline SemanticVersion VersionOf(uint32_t major, uint32_t minor, uint32_t patch) {
  SemanticVersion version;
  version.major = major;
  version.minor = minor;
  version.patch = patch;
  return version;
}

bool IsCompatible(const SemanticVersion& mine, const SemanticVersion& core);

// "plx-be-" or "plx-fe-" and the short name; an unknown kind gives
// "plx-xx-" and an ERROR line.
std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginKind& kind);

// "tov-vover-orevid-aredez" gives "TovVoverOrevidAredez".
std::string ApiNameFromShortName(const std::string& shortName);

}  // namespace Vexa
