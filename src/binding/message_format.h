// Message templates: every message text of the plug-in is built from a
// template and typed arguments, never by concatenation.
//
// Positional templates ("%1", "%2$5d", printf-style specifications) format
// into a caller buffer without touching the heap. Named templates
// ("{method} {url}") build an owned text and also record each placeholder's
// name and value, which `Failure` keeps.
//
// Each argument type decides which conversions it accepts (the first is its
// default); any other conversion letter falls back to the default, so a
// template can never make the formatter read an argument as the wrong type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "binding/semantic_version.h"

namespace Vexa {

// The size of the buffer that the owned-string helpers format into; longer
// results are cut to one less than this.
inline constexpr std::size_t kMessageBufferSize = 4096;
// A specification ("%" up to its conversion letter) must stay below this.
inline constexpr std::size_t kMaxSpecificationLength = 60;

enum FormatFlag : std::uint8_t {
  kFormatLeft = 1,       // "-"
  kFormatPlus = 2,       // "+"
  kFormatSpace = 4,      // " "
  kFormatAlternate = 8,  // "#"
  kFormatZero = 16,      // "0"
};

// What a format function receives: where to write, the conversion and the
// argument. Writers never go past `end`, which is kept for the NUL.
struct FormatState {
  char* position = nullptr;
  char* end = nullptr;
  bool full = false;  // a write did not fit; formatting stops after it

  // The final specification, taken apart: its conversion is one that the
  // argument accepts, and width and precision are those given
  // (negative: not given; a star gives 0). The template's own length modifier is
  // dropped in favour of the argument type's.
  std::uint8_t flags = 0;
  int width = -1;
  int precision = -1;
  char conversion = 0;
  const void* value = nullptr;

  // Appends with truncation; these set `full` when the text does not fit.
  void Write(std::string_view text);
  void Repeat(char c, std::size_t count);
};

using FormatFunction = void (*)(FormatState& state);

// One entry per argument of a call. None of the argument types here may serve
// as a "*" width or precision, so a star stands for 0.
struct FormatArgumentDescriptor {
  FormatFunction format;
  const char* conversions;  // accepted letters, default first
};

// Formats `pattern` into `buffer`, always NUL-terminated (nothing at all when
// `size` is 0). Returns the characters written. "%N" and "%N$" pick an
// argument without moving the sequence that "%d", "*" and "%0" take from.
// Never fails: a missing
// argument, an over-long specification or a full buffer ends the output where
// it is. Does not allocate.
std::size_t FormatPositional(char* buffer, std::size_t size, std::string_view pattern,
                             const FormatArgumentDescriptor* descriptors, const void* const* values,
                             std::size_t count) noexcept;

// The recorded value of one named placeholder. The text after the last "_" of
// the name chooses its type: "_bool", "_int", "_long", "_float", "_str",
// "_time"; any other name records the argument's text.
struct NamedTime {
  std::int64_t value = 0;  // the argument read as a 64-bit integer
  friend bool operator==(const NamedTime&, const NamedTime&) = default;
};
using NamedValueData = std::variant<std::string, bool, std::int32_t, std::int64_t, double, NamedTime>;

struct NamedValue {
  std::string name;
  NamedValueData value;
};

// Name-to-value record, in order of first appearance; a repeated name keeps
// its first place and takes the later value.
class NamedValues {
 public:
  const NamedValue* Find(std::string_view name) const noexcept;
  void Set(std::string_view name, NamedValueData value);
  std::size_t size() const noexcept { return values_.size(); }
  bool empty() const noexcept { return values_.empty(); }
  auto begin() const noexcept { return values_.begin(); }
  auto end() const noexcept { return values_.end(); }

 private:
  std::vector<NamedValue> values_;
};

struct NamedMessage {
  std::string text;
  NamedValues values;
};

// The native view of an argument that named formatting records.
struct NamedArgument {
  enum class Kind : std::uint8_t { Signed, Unsigned, Float, Bool, Text, Other };
  Kind kind = Kind::Other;
  std::int64_t signedValue = 0;
  std::uint64_t unsignedValue = 0;
  double floatValue = 0;
  bool boolValue = false;
  std::string_view text;  // Text only
};

// Named formatting. Outside a placeholder "%" specifications work as in
// positional formatting, sharing the argument counter; "{{" writes "{",
// "}" and "}}" write "}". "{name}" takes the next argument in order (the
// name does not select it). Inside a placeholder "\" takes the next
// character literally, and these characters are flags:
//   "{#name}"  records the value without writing it;
//   "!"        writes the value without recording it;
//   ":"        writes the value in single quotes;
//   "?"        a missing argument leaves the placeholder empty instead of
//              ending the output.
// The text is cut at kMessageBufferSize - 1 characters; recorded texts are
// kept whole.
NamedMessage FormatNamedMessage(std::string_view pattern, const FormatArgumentDescriptor* descriptors,
                                const void* const* values, const NamedArgument* arguments,
                                std::size_t count);

// "'a', 'b'" for the separator ", " and the quote "'".
std::string Join(std::span<const std::string> items, std::string_view separator, std::string_view quote);
std::string Join(std::initializer_list<std::string_view> items, std::string_view separator,
                 std::string_view quote);

// printf-style formatting for outputs of a fixed width, such as "#%08X".
// Still bounded by `size`, so a wrong width truncates instead of overflowing.
int FormatFixed(char* buffer, std::size_t size, const char* format, ...) noexcept
    __attribute__((format(printf, 3, 4)));

namespace Detail {

// Each argument type's format function.
void FormatSigned32(FormatState& state);
void FormatUnsigned32(FormatState& state);
void FormatSigned64(FormatState& state);
void FormatUnsigned64(FormatState& state);
void FormatDouble(FormatState& state);
void FormatBool(FormatState& state);
void FormatCString(FormatState& state);
void FormatStringView(FormatState& state);
void FormatSemanticVersion(FormatState& state);
void FormatPluginKind(FormatState& state);

template <typename>
inline constexpr bool kUnsupportedArgument = false;

// Brings every argument to one of the few types the formatter knows; texts
// become views, so owned strings are not copied.
template <typename T>
auto NormalizeArgument(const T& value) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, bool>) {
    return value;
  } else if constexpr (std::is_integral_v<U>) {
    if constexpr (sizeof(U) <= 4) {
      if constexpr (std::is_signed_v<U>) return static_cast<std::int32_t>(value);
      else return static_cast<std::uint32_t>(value);
    } else {
      if constexpr (std::is_signed_v<U>) return static_cast<std::int64_t>(value);
      else return static_cast<std::uint64_t>(value);
    }
  } else if constexpr (std::is_floating_point_v<U>) {
    return static_cast<double>(value);
  } else if constexpr (std::is_convertible_v<const U&, const char*>) {
    return static_cast<const char*>(value);
  } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
    return std::string_view(value);
  } else if constexpr (std::is_same_v<U, SemanticVersion> || std::is_same_v<U, PluginKind>) {
    return &value;
  } else {
    static_assert(kUnsupportedArgument<U>, "this type cannot be a message argument");
  }
}

template <typename N>
constexpr FormatArgumentDescriptor DescriptorOf() {
  if constexpr (std::is_same_v<N, bool>) return {FormatBool, "s"};
  else if constexpr (std::is_same_v<N, std::int32_t>) return {FormatSigned32, "dciouxX"};
  else if constexpr (std::is_same_v<N, std::uint32_t>) return {FormatUnsigned32, "ucdioxX"};
  else if constexpr (std::is_same_v<N, std::int64_t>) return {FormatSigned64, "dciouxX"};
  else if constexpr (std::is_same_v<N, std::uint64_t>) return {FormatUnsigned64, "ucdioxX"};
  else if constexpr (std::is_same_v<N, double>) return {FormatDouble, "gaefGAEF"};
  else if constexpr (std::is_same_v<N, const char*>) return {FormatCString, "s"};
  else if constexpr (std::is_same_v<N, std::string_view>) return {FormatStringView, "s"};
  else if constexpr (std::is_same_v<N, const SemanticVersion*>) return {FormatSemanticVersion, "s"};
  else return {FormatPluginKind, "s"};
}

template <typename... N>
inline constexpr FormatArgumentDescriptor kDescriptorTable[] = {DescriptorOf<N>()...};

NamedArgument DescribeArgument(bool value);
NamedArgument DescribeArgument(std::int32_t value);
NamedArgument DescribeArgument(std::uint32_t value);
NamedArgument DescribeArgument(std::int64_t value);
NamedArgument DescribeArgument(std::uint64_t value);
NamedArgument DescribeArgument(double value);
NamedArgument DescribeArgument(const char* value);
NamedArgument DescribeArgument(std::string_view value);
NamedArgument DescribeArgument(const SemanticVersion* value);
NamedArgument DescribeArgument(const PluginKind* value);

}  // namespace Detail

// Positional formatting of typed arguments into a caller buffer.
template <typename... Args>
std::size_t FormatTo(char* buffer, std::size_t size, std::string_view pattern, const Args&... args) noexcept {
  if constexpr (sizeof...(Args) == 0) {
    return FormatPositional(buffer, size, pattern, nullptr, nullptr, 0);
  } else {
    const std::tuple normalized{Detail::NormalizeArgument(args)...};
    return std::apply(
        [&](const auto&... n) {
          const void* const values[] = {&n...};
          return FormatPositional(buffer, size, pattern,
                                  Detail::kDescriptorTable<std::remove_cvref_t<decltype(n)>...>, values,
                                  sizeof...(Args));
        },
        normalized);
  }
}

// Positional formatting into an owned text (at most kMessageBufferSize - 1
// characters).
template <typename... Args>
std::string Format(std::string_view pattern, const Args&... args) {
  char buffer[kMessageBufferSize];
  return std::string(buffer, FormatTo(buffer, sizeof buffer, pattern, args...));
}

// Named formatting of typed arguments.
template <typename... Args>
NamedMessage FormatNamed(std::string_view pattern, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatNamedMessage(pattern, nullptr, nullptr, nullptr, 0);
  } else {
    const std::tuple normalized{Detail::NormalizeArgument(args)...};
    return std::apply(
        [&](const auto&... n) {
          const void* const values[] = {&n...};
          const NamedArgument arguments[] = {Detail::DescribeArgument(n)...};
          return FormatNamedMessage(pattern, Detail::kDescriptorTable<std::remove_cvref_t<decltype(n)>...>,
                                    values, arguments, sizeof...(Args));
        },
        normalized);
  }
}

}  // namespace Vexa
