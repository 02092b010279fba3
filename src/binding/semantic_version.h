// The plug-in API version and the plug-in kind, both of which appear in
// handshake checks and in message texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace Vexa {

struct SemanticVersion {
  SemanticVersion() = default;
  SemanticVersion(std::uint32_t major_, std::uint32_t minor_, std::uint32_t patch_, std::string preRelease_ = {},
                  std::string build_ = {})
      : major(major_), minor(minor_), patch(patch_), preRelease(std::move(preRelease_)), build(std::move(build_)) {}

  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
  std::string preRelease;
  std::string build;

  // Room for "4294967295.4294967295.4294967295" and its NUL.
  static constexpr std::size_t kNumbersBufferSize = 33;

  // "major.minor.patch", then "-preRelease" and "+build" when not empty.
  std::string ToString() const;
  // Only the three numbers (what crosses the host boundary); always
  // NUL-terminated, truncated to the buffer; returns the characters written.
  std::size_t FormatNumbers(char* buffer, std::size_t size) const;

  friend bool operator==(const SemanticVersion&, const SemanticVersion&) = default;
};

// "backend" or "frontend"; the second text is empty for both kinds.
struct PluginKind {
  std::string name;
  std::string second;

  // "name:second".
  std::string ToString() const;

  friend bool operator==(const PluginKind&, const PluginKind&) = default;
};

}  // namespace Vexa
