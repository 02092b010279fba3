#include "formats/json.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/writer.h>

#include "binding/registry.h"
#include "binding/visitor.h"
#include "formats/sibling_shapes.h"

namespace Vexa {
namespace {

// Iterative so that nesting depth costs heap, not stack; encoding validated
// so that every stored text is UTF-8 and writes back as valid JSON. Numbers
// use the reader's default (fast) precision: its full-precision path in this
// RapidJSON release counts leading zeros of a zero significand ("0e52").
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;
// The same parse without the reader's own byte-by-byte validation, for input
// already known to be valid UTF-8: validation only ever adds errors, so the
// result is identical.
constexpr unsigned kValidatedParseFlags = rapidjson::kParseIterativeFlag;
// The reader copies a text's characters sixteen at a time only from a
// NUL-terminated string, reading whole aligned blocks, and a view is not
// followed by a NUL. Texts up to this size are copied with room for those
// reads, which saves about a tenth of the parse; longer ones are read in
// place, where a copy would weigh a third of their tree.
constexpr std::size_t kCopiedTextLimit = std::size_t(1) << 20;

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF),
// eight ASCII bytes at a time. Input it rejects is parsed by the validating
// reader, so the error and its offset are the reader's own.
bool IsValidUtf8(const char* text, std::size_t length) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + length;
  while (p < end) {
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t size;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) size = 2;
    else if (c >= 0xE0 && c <= 0xEF) size = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) size = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    else return false;
    if (static_cast<std::size_t>(end - p) < size || p[1] < low || p[1] > high) return false;
    for (std::size_t i = 2; i < size; ++i)
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    p += size;
  }
  return true;
}

bool IsBlank(char c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Texts in a tree end at their first NUL, as they would in a C string.
std::string_view UpToNul(const char* text, std::size_t length) noexcept {
  const void* nul = std::memchr(text, '\0', length);
  return {text, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : length};
}

// Raw bytes are validated by the reader, but this RapidJSON release decodes
// an unpaired "\udc00".."\udfff" escape into the three bytes of a surrogate,
// which is not UTF-8 and would write back as text no reader accepts.
bool HasLoneSurrogate(const char* text, std::size_t length) noexcept {
  for (const char* at = static_cast<const char*>(std::memchr(text, '\xED', length)); at != nullptr;) {
    const std::size_t rest = length - static_cast<std::size_t>(at - text);
    if (rest > 1 && static_cast<unsigned char>(at[1]) >= 0xA0) return true;
    at = static_cast<const char*>(std::memchr(at + 1, '\xED', rest - 1));
  }
  return false;
}

// The reader's events, applied to a tree: scalars and containers land on the
// target, a new element when a Collection is open; names pick the target in
// the open Structure, so repeated names write into one field.
class TreeBuilder {
 public:
  // Without a "\\u" escape in the input no text can hold a NUL or a lone
  // surrogate (raw bytes are cut at the first NUL and validated), so the
  // per-text checks are skipped.
  TreeBuilder(BindingNode& root, bool escapes) : target_(&root), escapes_(escapes) {}

  bool Null() { return Apply([](BindingNode& node) { node.Reset(); }); }
  bool Bool(bool value) { return Apply([&](BindingNode& node) { node.SetBool(value); }); }
  bool Int(int value) { return Apply([&](BindingNode& node) { node.SetSigned(value); }); }
  bool Uint(unsigned value) { return Apply([&](BindingNode& node) { node.SetUnsigned(value); }); }
  bool Int64(std::int64_t value) { return Apply([&](BindingNode& node) { node.SetSigned(value); }); }
  bool Uint64(std::uint64_t value) { return Apply([&](BindingNode& node) { node.SetUnsigned(value); }); }
  bool Double(double value) { return Apply([&](BindingNode& node) { node.SetFloat(value); }); }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }  // not requested
  bool String(const char* text, rapidjson::SizeType length, bool) {
    if (escapes_ && HasLoneSurrogate(text, length)) return false;
    return Apply([&](BindingNode& node) { node.SetString(Text(text, length)); });
  }
  bool StartObject() {
    return Apply([&](BindingNode& node) {
      node.MakeStructure();
      shapes_.Opened(node, open_.size());
      open_.push_back({&node});
    });
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    if (escapes_ && HasLoneSurrogate(text, length)) return false;
    return Guard([&] {
      Open& object = open_.back();
      target_ = &shapes_.Field(*object.node, open_.size() - 1, object.keys++, Text(text, length));
    });
  }
  bool EndObject(rapidjson::SizeType) { return Pop(); }
  bool StartArray() {
    return Apply([&](BindingNode& node) {
      node.MakeCollection();
      shapes_.Opened(node, open_.size());
      open_.push_back({&node});
    });
  }
  bool EndArray(rapidjson::SizeType) { return Pop(); }

 private:
  std::string_view Text(const char* text, std::size_t length) const noexcept {
    return escapes_ ? UpToNul(text, length) : std::string_view(text, length);
  }

  template <typename Step>
  bool Guard(Step step) {
    // The reader reports a false return as a handler error at the offset
    // reached; nothing is thrown through it.
    try {
      step();
      return true;
    } catch (const std::length_error&) {
      return false;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  template <typename Set>
  bool Apply(Set set) {
    return Guard([&] {
      BindingNode* node = target_;
      if (!open_.empty() && open_.back().node->GetKind() == BindingKind::Collection) {
        BindingNode& collection = *open_.back().node;
        node = &collection.At(collection.Size());
      }
      set(*node);
    });
  }

  bool Pop() {
    shapes_.Closed(*open_.back().node, open_.size() - 1);
    open_.pop_back();
    return true;
  }

  struct Open {
    BindingNode* node;
    std::uint32_t keys = 0;  // names read so far
  };
  BindingNode* target_;
  bool escapes_;
  // Element arrays of open Collections grow only at the innermost one, so
  // these stay valid while they are open.
  std::vector<Open> open_;
  SiblingShapes shapes_;
};

std::string ParseErrorMessage(rapidjson::ParseErrorCode code, std::size_t offset) {
  std::string message = "Error: ";
  message += rapidjson::GetParseError_En(code);
  message += " at offset ";
  message += std::to_string(offset);
  message += '.';
  return message;
}

// RapidJSON's output stream concept over a std::string, saving the copy out
// of a StringBuffer. The writers reserve before each run of characters, so
// the characters themselves are stored without a capacity check.
class StringSink {
 public:
  using Ch = char;
  explicit StringSink(std::string& text) noexcept : text_(text) {}

  void Reserve(std::size_t count) {
    if (count > static_cast<std::size_t>(end_ - at_)) Grow(count);
  }
  void PutUnsafe(char c) noexcept { *at_++ = c; }
  void Put(char c) {
    Reserve(1);
    PutUnsafe(c);
  }
  void PutN(char c, std::size_t count) {
    Reserve(count);
    std::memset(at_, c, count);
    at_ += count;
  }
  void Flush() noexcept {}
  // Cuts the text to what was written.
  void Finish() { text_.resize(Used()); }

 private:
  std::size_t Used() const noexcept { return at_ ? static_cast<std::size_t>(at_ - text_.data()) : 0; }
  void Grow(std::size_t count) {
    const std::size_t used = Used();
    text_.resize(std::max(text_.size() * 2, used + count + 256));
    at_ = text_.data() + used;
    end_ = text_.data() + text_.size();
  }

  std::string& text_;
  char* at_ = nullptr;
  char* end_ = nullptr;
};

// Found by argument-dependent lookup from inside the writers, in place of
// their generic one-character-at-a-time forms.
void PutReserve(StringSink& sink, std::size_t count) { sink.Reserve(count); }
void PutUnsafe(StringSink& sink, char c) noexcept { sink.PutUnsafe(c); }
void PutN(StringSink& sink, char c, std::size_t count) { sink.PutN(c, count); }

template <typename Writer>
class JsonWriterVisitor final : public BindingVisitor {
 public:
  JsonWriterVisitor(Writer& writer, const BindingRegistry* registry) : writer_(writer), registry_(registry) {}

  void VisitNull() override { writer_.Null(); }
  void VisitBool(bool value) override { writer_.Bool(value); }
  void VisitInt64(std::int64_t value) override { writer_.Int64(value); }
  void VisitUint64(std::uint64_t value) override { writer_.Uint64(value); }
  void VisitDouble(double value) override {
    // JSON has no NaN or infinity; the writer would leave a hole.
    if (std::isfinite(value)) {
      writer_.Double(value);
    } else {
      writer_.Null();
    }
  }
  void VisitString(std::string_view text) override { String(text); }
  void VisitBlob(std::span<const std::uint8_t> bytes) override { String(Base64(bytes)); }
  void VisitEnum(EnumValue value) override {
    const char* name = registry_ && value.enumType ? registry_->EnumeratorName(*value.enumType, value.value) : nullptr;
    if (name != nullptr) {
      String(name);
    } else {
      writer_.Int(value.value);
    }
  }
  void StartArray(std::uint32_t) override { writer_.StartArray(); }
  void BeginElement(std::uint32_t) override {}
  void EndElement(std::uint32_t) override {}
  void EndArray() override { writer_.EndArray(); }
  void StartObject(std::uint32_t) override { writer_.StartObject(); }
  void Key(std::string_view name) override {
    writer_.Key(name.data() ? name.data() : "", static_cast<rapidjson::SizeType>(name.size()));
  }
  void EndMember() override {}
  void EndObject() override { writer_.EndObject(); }

 private:
  // Texts in a tree stay below 4 GiB, so their length fits SizeType.
  void String(std::string_view text) {
    writer_.String(text.data() ? text.data() : "", static_cast<rapidjson::SizeType>(text.size()));
  }

  Writer& writer_;
  const BindingRegistry* registry_;
};

template <typename Writer>
void Write(Writer& writer, const BindingNode& node, const BindingRegistry* registry) {
  JsonWriterVisitor<Writer> visitor(writer, registry);
  WalkTree(node, visitor);
}

}  // namespace

BindingProperty ParseJson(std::string_view text) {
  BindingProperty result;
  // A default string_view has a null data pointer, which memchr may not be
  // given even for no bytes.
  if (text.empty()) return result;
  text = UpToNul(text.data(), text.size());
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  if (first == text.size()) return result;

  TreeBuilder builder(result, text.find("\\u") != std::string_view::npos);
  rapidjson::Reader reader;
  rapidjson::ParseResult parsed;
  if (!IsValidUtf8(text.data(), text.size())) {
    rapidjson::MemoryStream stream(text.data(), text.size());
    parsed = reader.Parse<kParseFlags>(stream, builder);
  } else if (text.size() <= kCopiedTextLimit) {
    // The copy ends in zeros up to the last block the reader may load.
    std::string copy;
    copy.reserve(text.size() + 16);
    copy.assign(text).append(16, '\0');
    rapidjson::StringStream stream(copy.c_str());
    parsed = reader.Parse<kValidatedParseFlags>(stream, builder);
  } else {
    rapidjson::MemoryStream stream(text.data(), text.size());
    parsed = reader.Parse<kValidatedParseFlags>(stream, builder);
  }
  if (parsed.IsError()) result.SetFailure(ParseErrorMessage(parsed.Code(), parsed.Offset()));
  return result;
}

std::string ToJson(const BindingNode& node, const BindingRegistry* registry, std::string_view lineBreak) {
  std::string text;
  if (node.IsEmpty()) return text;
  StringSink sink(text);
  if (lineBreak.empty()) {
    rapidjson::Writer<StringSink> writer(sink);
    Write(writer, node, registry);
    sink.Finish();
    return text;
  }
  rapidjson::PrettyWriter<StringSink> writer(sink);
  Write(writer, node, registry);
  sink.Finish();
  if (lineBreak == "\n") return text;

  std::string replaced;
  replaced.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') {
      replaced += lineBreak;
    } else {
      replaced += c;
    }
  }
  return replaced;
}

}  // namespace Vexa
