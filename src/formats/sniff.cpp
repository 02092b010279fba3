#include "formats/sniff.h"

#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"

namespace Vexa {
namespace {

// The content types the plug-in reads, by prefix. Bodies and values were
// given different YAML types and only bodies the JSON:API type; clients
// depend on both, so each row says which of the two it serves.
struct ContentTypeRule {
  std::string_view prefix;
  Codec codec;
  bool body;
  bool value;
};

constexpr ContentTypeRule kContentTypes[] = {
    {"application/x-msgpack", Codec::MessagePack, true, true},
    {"application/json", Codec::Json, true, true},
    {"application/vnd.api+json", Codec::Json, true, false},
    {"application/x-yaml", Codec::Yaml, true, false},
    {"text/x-yaml", Codec::Yaml, false, true},
    {"application/octet-stream", Codec::Blob, false, true},
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

template <bool ContentTypeRule::*Serves>
const ContentTypeRule* FindRule(std::string_view contentType) {
  for (const ContentTypeRule& rule : kContentTypes)
    if (rule.*Serves && StartsWithNoCase(contentType, rule.prefix)) return &rule;
  return nullptr;
}

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string_view UpToNul(std::span<const std::uint8_t> bytes) {
  const std::string_view text = AsText(bytes);
  return text.substr(0, text.find('\0'));
}

}  // namespace

Codec BodyCodec(std::string_view contentType) noexcept {
  const ContentTypeRule* rule = FindRule<&ContentTypeRule::body>(contentType);
  return rule ? rule->codec : Codec::Unsupported;
}

Codec ValueCodec(std::string_view contentType, std::span<const std::uint8_t> bytes, bool structured) noexcept {
  if (!structured) return Codec::Text;
  if (contentType.empty()) return SniffCodec(bytes);
  const ContentTypeRule* rule = FindRule<&ContentTypeRule::value>(contentType);
  return rule ? rule->codec : Codec::Text;
}

Codec SniffCodec(std::span<const std::uint8_t> bytes) noexcept {
  if (LooksLikeMessagePack(bytes)) return Codec::MessagePack;
  // Only spaces may come before the marker: a value that starts with a tab
  // or a line break is text, whatever follows.
  const std::string_view text = AsText(bytes);
  const std::size_t start = text.find_first_not_of(' ');
  if (start != std::string_view::npos && (text[start] == '{' || text[start] == '[')) return Codec::Json;
  if (LooksLikeYaml(text)) return Codec::Yaml;
  return Codec::Text;
}

std::string_view CodecName(Codec codec) noexcept {
  switch (codec) {
    case Codec::MessagePack: return "MessagePack";
    case Codec::Json: return "JSON";
    case Codec::Yaml: return "YAML";
    default: return {};
  }
}

BindingProperty ParseWith(Codec codec, std::span<const std::uint8_t> bytes, std::size_t* consumed) {
  BindingProperty value;
  switch (codec) {
    case Codec::MessagePack: return ParseMessagePack(bytes, consumed);
    case Codec::Json: return ParseJson(UpToNul(bytes));
    case Codec::Yaml: return ParseYaml(UpToNul(bytes));
    case Codec::Blob: value.SetBlob(bytes); break;
    case Codec::Text: value.SetString(AsText(bytes)); break;
    case Codec::Unsupported: break;
  }
  return value;
}

}  // namespace Vexa
