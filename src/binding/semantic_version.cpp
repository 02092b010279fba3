#include "binding/semantic_version.h"

#include "binding/message_format.h"

namespace Vexa {

std::size_t SemanticVersion::FormatNumbers(char* buffer, std::size_t size) const {
  return FormatTo(buffer, size, "%1.%2.%3", major, minor, patch);
}

std::string SemanticVersion::ToString() const {
  char numbers[kNumbersBufferSize];
  std::string text(numbers, FormatNumbers(numbers, sizeof numbers));
  if (!preRelease.empty()) text.append("-").append(preRelease);
  if (!build.empty()) text.append("+").append(build);
  return text;
}

std::string PluginKind::ToString() const { return name + ":" + second; }

}  // namespace Vexa
