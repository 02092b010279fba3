#include "formats/sniff.h"

#include <string_view>

#include "formats/msgpack.h"
#include "formats/yaml.h"

namespace Vexa {

SniffedFormat SniffFormat(std::span<const std::uint8_t> bytes) noexcept {
  if (LooksLikeMessagePack(bytes)) return SniffedFormat::MessagePack;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const std::size_t first = text.find_first_not_of(' ');
  if (first != std::string_view::npos && (text[first] == '{' || text[first] == '[')) return SniffedFormat::Json;
  if (LooksLikeYaml(text)) return SniffedFormat::Yaml;
  return SniffedFormat::Text;
}

}  // namespace Vexa
