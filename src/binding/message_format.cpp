#include "binding/message_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "binding/saturate.h"

namespace Vexa {

void FormatState::Write(std::string_view text) {
  if (full) return;
  const std::size_t room = static_cast<std::size_t>(end - position);
  const std::size_t n = std::min(room, text.size());
  if (n != 0) std::memcpy(position, text.data(), n);
  position += n;
  full = n < text.size();
}

void FormatState::Repeat(char c, std::size_t count) {
  if (full) return;
  const std::size_t room = static_cast<std::size_t>(end - position);
  const std::size_t n = std::min(room, count);
  if (n != 0) std::memset(position, c, n);
  position += n;
  full = n < count;
}

namespace {

// Widths, precisions and positions saturate here, which keeps every length
// sum below 2^32 even on 32-bit builds; the output is cut long before.
constexpr std::size_t kMaxNumber = 0x3FFFFFFF;
// Beyond this many digits every double's decimal expansion is exact, so
// further requested digits are zeros that we write ourselves.
constexpr int kMaxFloatPrecision = 1100;
constexpr std::size_t kUnset = std::numeric_limits<std::size_t>::max();

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t ReadNumber(std::string_view text, std::size_t& i) {
  std::size_t n = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    const std::size_t digit = static_cast<std::size_t>(text[i] - '0');
    n = n > (kMaxNumber - digit) / 10 ? kMaxNumber : n * 10 + digit;
  }
  return n;
}

struct Arguments {
  const FormatArgumentDescriptor* descriptors;
  const void* const* values;
  std::size_t count;
  std::size_t next = 0;  // the next argument in sequence
};

// The conversion text as collected from the template, for its length limit.
class Collected {
 public:
  bool Append(char) { return ++length_ < kMaxSpecificationLength; }
  bool Append(std::size_t count) { return (length_ += count) < kMaxSpecificationLength; }

 private:
  std::size_t length_ = 1;  // the "%"
};

enum class Step { Continue, Stop };

std::uint8_t FlagOf(char c) {
  switch (c) {
    case '-': return kFormatLeft;
    case '+': return kFormatPlus;
    case ' ': return kFormatSpace;
    case '#': return kFormatAlternate;
    case '0': return kFormatZero;
    default: return 0;
  }
}

// A width or a precision: digits, or "*" optionally followed by "N$".
// Returns false when the conversion text grew too long.
bool ReadAmount(std::string_view pattern, std::size_t& i, Collected& collected, Arguments& args,
                int& amount, std::size_t& starArgument) {
  if (i < pattern.size() && IsDigit(pattern[i])) {
    const std::size_t start = i;
    amount = static_cast<int>(ReadNumber(pattern, i));
    return collected.Append(i - start);
  }
  if (i < pattern.size() && pattern[i] == '*') {
    ++i;
    std::size_t j = i;
    std::size_t position = 0;
    if (j < pattern.size() && IsDigit(pattern[j])) position = ReadNumber(pattern, j);
    if (j > i && j < pattern.size() && pattern[j] == '$' && position != 0) {
      starArgument = position - 1;
      i = j + 1;
    } else {
      if (j > i && j < pattern.size() && pattern[j] == '$') i = j + 1;  // "*0$": next in sequence
      starArgument = args.next++;
    }
    return collected.Append('*');
  }
  return true;
}

void AppendNumber(char*& out, int value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n != 0) *out++ = digits[--n];
}

struct Parsed {
  std::size_t argument = kUnset;
  bool useDefault = false;  // the conversion is just "%N"
  std::uint8_t flags = 0;
  int width = -1;
  int precision = -1;
  std::size_t widthStar = kUnset;
  std::size_t precisionStar = kUnset;
  char conversion = 0;
};

Step Emit(const Parsed& parsed, const Arguments& args, FormatState& state) {
  if (parsed.argument >= args.count) return Step::Stop;
  if (parsed.widthStar != kUnset && parsed.widthStar >= args.count) return Step::Stop;
  if (parsed.precisionStar != kUnset && parsed.precisionStar >= args.count) return Step::Stop;
  if (!parsed.useDefault && parsed.conversion == 'n') return Step::Continue;

  const FormatArgumentDescriptor& descriptor = args.descriptors[parsed.argument];
  // No argument type serves as a "*" width or precision: a star takes its
  // argument and stands for 0.
  state.flags = parsed.flags;
  state.width = parsed.widthStar != kUnset ? 0 : parsed.width;
  state.precision = parsed.precisionStar != kUnset ? 0 : parsed.precision;
  const char* accepted = descriptor.conversions;
  const bool acceptedConversion =
      !parsed.useDefault && parsed.conversion != '\0' && std::strchr(accepted, parsed.conversion) != nullptr;
  state.conversion = acceptedConversion ? parsed.conversion : accepted[0];
  state.value = args.values[parsed.argument];
  descriptor.format(state);
  return state.full ? Step::Stop : Step::Continue;
}

// Parses one specification; `i` is just after its "%".
Step FormatSpecification(std::string_view pattern, std::size_t& i, Arguments& args, FormatState& state) {
  Parsed parsed;
  if (i < pattern.size() && IsDigit(pattern[i])) {
    std::size_t j = i;
    const std::size_t n = ReadNumber(pattern, j);
    if (n <= args.count) {
      parsed.argument = n == 0 ? kUnset : n - 1;
      if (j >= pattern.size() || pattern[j] != '$') {
        i = j;
        if (parsed.argument == kUnset) parsed.argument = args.next++;
        parsed.useDefault = true;
        return Emit(parsed, args, state);
      }
      i = j + 1;
    }
  }

  Collected collected;
  for (std::uint8_t flag; i < pattern.size() && (flag = FlagOf(pattern[i])) != 0; ++i) {
    if (!collected.Append(pattern[i])) return Step::Stop;
    parsed.flags |= flag;
  }
  if (!ReadAmount(pattern, i, collected, args, parsed.width, parsed.widthStar)) return Step::Stop;
  if (i < pattern.size() && pattern[i] == '.') {
    ++i;
    parsed.precision = 0;
    if (!collected.Append('.')) return Step::Stop;
    if (!ReadAmount(pattern, i, collected, args, parsed.precision, parsed.precisionStar)) return Step::Stop;
  }
  if (i < pattern.size()) {
    const char c = pattern[i];
    if (c == 'h' || c == 'l') {
      ++i;
      if (!collected.Append(c)) return Step::Stop;
      if (i < pattern.size() && pattern[i] == c) {
        ++i;
        if (!collected.Append(c)) return Step::Stop;
      }
    } else if (c == 'L' || c == 'j' || c == 't' || c == 'z') {
      ++i;
      if (!collected.Append(c)) return Step::Stop;
    }
  }
  if (i >= pattern.size()) return Step::Stop;
  parsed.conversion = pattern[i++];
  if (!collected.Append(parsed.conversion)) return Step::Stop;
  if (parsed.argument == kUnset) parsed.argument = args.next++;
  return Emit(parsed, args, state);
}

// The default conversion of one argument, as for "%N".
void WriteDefault(const Arguments& args, std::size_t index, FormatState& state) {
  Parsed parsed;
  parsed.argument = index;
  parsed.useDefault = true;
  Emit(parsed, args, state);
}

void InitialiseState(FormatState& state, char* buffer, std::size_t size) {
  state.position = buffer;
  state.end = buffer + size - 1;
  state.full = false;
}

// A field of printf output:
//   prefix (sign, "0x") | zeros | body | trailing zeros | suffix (exponent)
// The zero padding of the "0" flag goes after the prefix.
struct Field {
  std::string_view prefix;
  std::size_t zeros = 0;
  std::string_view body;
  std::size_t trailingZeros = 0;
  std::string_view suffix;
  bool zeroPad = false;
};

void WriteField(FormatState& state, const Field& field) {
  const std::size_t length =
      field.prefix.size() + field.zeros + field.body.size() + field.trailingZeros + field.suffix.size();
  const std::size_t width = state.width < 0 ? 0 : static_cast<std::size_t>(state.width);
  const std::size_t pad = width > length ? width - length : 0;
  const bool left = (state.flags & kFormatLeft) != 0;
  const bool zeroPad = field.zeroPad && !left;
  if (!left && !zeroPad) state.Repeat(' ', pad);
  state.Write(field.prefix);
  state.Repeat('0', field.zeros + (zeroPad ? pad : 0));
  state.Write(field.body);
  state.Repeat('0', field.trailingZeros);
  state.Write(field.suffix);
  if (left) state.Repeat(' ', pad);
}

// `asSigned` and `asUnsigned` are the argument's bits read both ways at its
// own width, which is how vsnprintf reads "%d" of an unsigned value.
void FormatInteger(FormatState& state, std::int64_t asSigned, std::uint64_t asUnsigned) {
  const char conversion = state.conversion;
  if (conversion == 'c') {
    const char c = static_cast<char>(asUnsigned & 0xFF);
    WriteField(state, Field{{}, 0, std::string_view(&c, 1), 0, {}, false});
    return;
  }
  const bool isSigned = conversion == 'd' || conversion == 'i';
  const bool negative = isSigned && asSigned < 0;
  std::uint64_t magnitude = isSigned ? (negative ? 0 - static_cast<std::uint64_t>(asSigned) : static_cast<std::uint64_t>(asSigned))
                                     : asUnsigned;
  const bool hasValue = magnitude != 0;
  const unsigned base = conversion == 'o' ? 8 : (conversion == 'x' || conversion == 'X') ? 16 : 10;
  const char* symbols = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";

  char digits[32];  // 22 octal digits at most, and room for the prefix
  char* first = digits + sizeof digits;
  // Constant divisors, so the compiler multiplies and shifts instead of
  // dividing.
  if (base == 10) {
    for (; magnitude != 0; magnitude /= 10) *--first = static_cast<char>('0' + magnitude % 10);
  } else if (base == 16) {
    for (; magnitude != 0; magnitude >>= 4) *--first = symbols[magnitude & 15];
  } else {
    for (; magnitude != 0; magnitude >>= 3) *--first = static_cast<char>('0' + (magnitude & 7));
  }
  std::size_t count = static_cast<std::size_t>(digits + sizeof digits - first);
  const std::size_t minimum = state.precision < 0 ? 1 : static_cast<std::size_t>(state.precision);
  std::size_t zeros = minimum > count ? minimum - count : 0;
  if (conversion == 'o' && (state.flags & kFormatAlternate) && zeros == 0 && (count == 0 || *first != '0')) {
    zeros = 1;
  }

  char prefix[3];
  std::size_t prefixLength = 0;
  if (negative) prefix[prefixLength++] = '-';
  else if (isSigned && (state.flags & kFormatPlus)) prefix[prefixLength++] = '+';
  else if (isSigned && (state.flags & kFormatSpace)) prefix[prefixLength++] = ' ';
  if (base == 16 && hasValue && (state.flags & kFormatAlternate)) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = conversion;
  }
  if (zeros == 0 && static_cast<std::size_t>(std::max(state.width, 0)) <= prefixLength + count) {
    // The common "%1": no padding, so sign and digits go out in one copy.
    for (std::size_t k = prefixLength; k != 0; --k) *--first = prefix[k - 1];
    state.Write(std::string_view(first, prefixLength + count));
    return;
  }
  const bool zeroPad = (state.flags & kFormatZero) && state.precision < 0;
  WriteField(state, Field{std::string_view(prefix, prefixLength), zeros, std::string_view(first, count), 0, {}, zeroPad});
}

void WriteText(FormatState& state, std::initializer_list<std::string_view> pieces) {
  if (state.width < 0 && state.precision < 0) {
    for (std::string_view piece : pieces) state.Write(piece);
    return;
  }
  std::size_t length = 0;
  for (std::string_view piece : pieces) length += piece.size();
  std::size_t limit = length;
  if (state.precision >= 0) limit = std::min(limit, static_cast<std::size_t>(state.precision));
  const std::size_t width = state.width < 0 ? 0 : static_cast<std::size_t>(state.width);
  const std::size_t pad = width > limit ? width - limit : 0;
  const bool left = (state.flags & kFormatLeft) != 0;
  if (!left) state.Repeat(' ', pad);
  for (std::string_view piece : pieces) {
    const std::size_t n = std::min(limit, piece.size());
    state.Write(piece.substr(0, n));
    limit -= n;
  }
  if (left) state.Repeat(' ', pad);
}

template <typename T>
const T& ValueOf(const FormatState& state) {
  return *static_cast<const T*>(state.value);
}

}  // namespace

std::size_t FormatPositional(char* buffer, std::size_t size, std::string_view pattern,
                             const FormatArgumentDescriptor* descriptors, const void* const* values,
                             std::size_t count) noexcept {
  if (size == 0) return 0;
  FormatState state;
  InitialiseState(state, buffer, size);
  Arguments args{descriptors, values, count};
  std::size_t i = 0;
  while (i < pattern.size() && !state.full) {
    if (pattern[i] != '%') {
      const std::size_t next = std::min(pattern.find('%', i), pattern.size());
      state.Write(pattern.substr(i, next - i));
      i = next;
    } else if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      state.Write("%");
      i += 2;
    } else {
      ++i;
      if (FormatSpecification(pattern, i, args, state) == Step::Stop) break;
    }
  }
  *state.position = '\0';
  return static_cast<std::size_t>(state.position - buffer);
}

namespace Detail {


void FormatSigned32(FormatState& state) {
  const std::int32_t v = ValueOf<std::int32_t>(state);
  FormatInteger(state, v, static_cast<std::uint32_t>(v));
}

void FormatUnsigned32(FormatState& state) {
  const std::uint32_t v = ValueOf<std::uint32_t>(state);
  FormatInteger(state, static_cast<std::int32_t>(v), v);
}

void FormatSigned64(FormatState& state) {
  const std::int64_t v = ValueOf<std::int64_t>(state);
  FormatInteger(state, v, static_cast<std::uint64_t>(v));
}

void FormatUnsigned64(FormatState& state) {
  const std::uint64_t v = ValueOf<std::uint64_t>(state);
  FormatInteger(state, static_cast<std::int64_t>(v), v);
}

// to_chars or vsnprintf formats the digits; width and any digits past
// kMaxFloatPrecision are ours, so a hostile "%1$999999999.999999999f" costs
// no more than the output it fills.
void FormatDouble(FormatState& state) {
  const double v = ValueOf<double>(state);
  const char conversion = state.conversion;
  const bool finite = std::isfinite(v);
  int precision = state.precision;
  std::size_t excess = 0;
  if (precision > kMaxFloatPrecision) {
    excess = static_cast<std::size_t>(precision - kMaxFloatPrecision);
    precision = kMaxFloatPrecision;
  }
  const bool general = conversion == 'g' || conversion == 'G';
  if (!finite || (general && !(state.flags & kFormatAlternate))) excess = 0;

  // Large enough for 1.8e308 in "%f" with kMaxFloatPrecision digits.
  char digits[1600];
  std::string_view text;
  const bool hex = conversion == 'a' || conversion == 'A';
  if (finite && !hex && !(state.flags & kFormatAlternate)) {
    // to_chars prints exactly what printf prints for these, without
    // snprintf's per-call set-up, which would double the cost of a message.
    const std::chars_format format = conversion == 'f' || conversion == 'F'   ? std::chars_format::fixed
                                     : conversion == 'e' || conversion == 'E' ? std::chars_format::scientific
                                                                              : std::chars_format::general;
    char* first = digits + 1;  // room for a sign
    const std::to_chars_result r = std::to_chars(first, digits + sizeof digits, v, format, precision < 0 ? 6 : precision);
    char* last = r.ec == std::errc() ? r.ptr : first;
    if (conversion == 'E' || conversion == 'G') {
      for (char* p = first; p != last; ++p) {
        if (*p == 'e') *p = 'E';
      }
    }
    const bool negative = last != first && *first == '-';
    if (!negative && (state.flags & kFormatPlus)) *--first = '+';
    else if (!negative && (state.flags & kFormatSpace)) *--first = ' ';
    text = std::string_view(first, static_cast<std::size_t>(last - first));
  } else {
    char specification[16];
    char* out = specification;
    *out++ = '%';
    for (char flag : {'+', ' ', '#'}) {
      if (state.flags & FlagOf(flag)) *out++ = flag;
    }
    if (precision >= 0) {
      *out++ = '.';
      AppendNumber(out, precision);
    }
    *out++ = conversion;
    *out = '\0';
    const int written = std::snprintf(digits, sizeof digits, specification, v);
    text = std::string_view(digits, written < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(written), sizeof digits - 1));
  }

  std::size_t prefix = !text.empty() && (text[0] == '-' || text[0] == '+' || text[0] == ' ') ? 1 : 0;
  if (finite && hex && text.size() >= prefix + 2 && text[prefix] == '0' && (text[prefix + 1] == 'x' || text[prefix + 1] == 'X')) {
    prefix += 2;
  }
  std::size_t exponent = text.size();
  if (excess != 0) {
    const char* markers = hex ? "pP" : "eE";
    const std::size_t at = text.find_first_of(markers, prefix);
    if (at != std::string_view::npos) exponent = at;
  }
  Field field;
  field.prefix = text.substr(0, prefix);
  field.body = text.substr(prefix, exponent - prefix);
  field.trailingZeros = excess;
  field.suffix = text.substr(exponent);
  field.zeroPad = finite && (state.flags & kFormatZero);
  WriteField(state, field);
}

void FormatBool(FormatState& state) { WriteText(state, {ValueOf<bool>(state) ? "true" : "false"}); }

void FormatCString(FormatState& state) {
  const char* text = ValueOf<const char*>(state);
  WriteText(state, {text != nullptr ? std::string_view(text) : std::string_view("(null)")});
}

void FormatStringView(FormatState& state) { WriteText(state, {ValueOf<std::string_view>(state)}); }

void FormatSemanticVersion(FormatState& state) {
  const SemanticVersion& version = *ValueOf<const SemanticVersion*>(state);
  char numbers[SemanticVersion::kNumbersBufferSize];
  const std::string_view text(numbers, version.FormatNumbers(numbers, sizeof numbers));
  const bool pre = !version.preRelease.empty();
  const bool build = !version.build.empty();
  WriteText(state, {text, pre ? "-" : "", version.preRelease, build ? "+" : "", version.build});
}

void FormatPluginKind(FormatState& state) {
  const PluginKind& kind = *ValueOf<const PluginKind*>(state);
  WriteText(state, {kind.name, ":", kind.second});
}

NamedArgument DescribeArgument(bool value) {
  NamedArgument a;
  a.kind = NamedArgument::Kind::Bool;
  a.boolValue = value;
  return a;
}

NamedArgument DescribeArgument(std::int64_t value) {
  NamedArgument a;
  a.kind = NamedArgument::Kind::Signed;
  a.signedValue = value;
  return a;
}

NamedArgument DescribeArgument(std::int32_t value) { return DescribeArgument(static_cast<std::int64_t>(value)); }

NamedArgument DescribeArgument(std::uint64_t value) {
  NamedArgument a;
  a.kind = NamedArgument::Kind::Unsigned;
  a.unsignedValue = value;
  return a;
}

NamedArgument DescribeArgument(std::uint32_t value) { return DescribeArgument(static_cast<std::uint64_t>(value)); }

NamedArgument DescribeArgument(double value) {
  NamedArgument a;
  a.kind = NamedArgument::Kind::Float;
  a.floatValue = value;
  return a;
}

NamedArgument DescribeArgument(std::string_view value) {
  NamedArgument a;
  a.kind = NamedArgument::Kind::Text;
  a.text = value;
  return a;
}

NamedArgument DescribeArgument(const char* value) {
  return DescribeArgument(value != nullptr ? std::string_view(value) : std::string_view("(null)"));
}

NamedArgument DescribeArgument(const SemanticVersion*) { return {}; }
NamedArgument DescribeArgument(const PluginKind*) { return {}; }

}  // namespace Detail

const NamedValue* NamedValues::Find(std::string_view name) const noexcept {
  for (const NamedValue& v : values_) {
    if (v.name == name) return &v;
  }
  return nullptr;
}

void NamedValues::Set(std::string_view name, NamedValueData value) {
  for (NamedValue& v : values_) {
    if (v.name == name) {
      v.value = std::move(value);
      return;
    }
  }
  values_.push_back(NamedValue{std::string(name), std::move(value)});
}

namespace {

enum class Suffix { None, Bool, Int, Long, Float, Str, Time };

Suffix SuffixOf(std::string_view name) {
  const std::size_t underscore = name.rfind('_');
  if (underscore == std::string_view::npos) return Suffix::None;
  const std::string_view suffix = name.substr(underscore + 1);
  if (suffix == "bool") return Suffix::Bool;
  if (suffix == "int") return Suffix::Int;
  if (suffix == "long") return Suffix::Long;
  if (suffix == "float") return Suffix::Float;
  if (suffix == "str") return Suffix::Str;
  if (suffix == "time") return Suffix::Time;
  return Suffix::None;
}

// Texts read as numbers the way the dynamic value reads them: strtoll with
// base 0, trailing text ignored.
std::int64_t ToInt64(const NamedArgument& a, const std::string& text) {
  switch (a.kind) {
    case NamedArgument::Kind::Signed: return a.signedValue;
    case NamedArgument::Kind::Unsigned: return static_cast<std::int64_t>(a.unsignedValue);
    case NamedArgument::Kind::Float: return SaturateToInt64(a.floatValue);
    case NamedArgument::Kind::Bool: return a.boolValue ? 1 : 0;
    default: return std::strtoll(text.c_str(), nullptr, 0);
  }
}

double ToDouble(const NamedArgument& a, const std::string& text) {
  switch (a.kind) {
    case NamedArgument::Kind::Signed: return static_cast<double>(a.signedValue);
    case NamedArgument::Kind::Unsigned: return static_cast<double>(a.unsignedValue);
    case NamedArgument::Kind::Float: return a.floatValue;
    case NamedArgument::Kind::Bool: return a.boolValue ? 1.0 : 0.0;
    default: return std::strtod(text.c_str(), nullptr);
  }
}

bool ToBool(const NamedArgument& a, const std::string& text) {
  switch (a.kind) {
    case NamedArgument::Kind::Signed: return a.signedValue != 0;
    case NamedArgument::Kind::Unsigned: return a.unsignedValue != 0;
    case NamedArgument::Kind::Float: return a.floatValue != 0.0;
    case NamedArgument::Kind::Bool: return a.boolValue;
    default: return text == "true" || text == "1";
  }
}

std::string TextOf(const Arguments& args, const NamedArgument& a, std::size_t index) {
  if (a.kind == NamedArgument::Kind::Text) return std::string(a.text);
  char buffer[kMessageBufferSize];
  FormatState state;
  InitialiseState(state, buffer, sizeof buffer);
  WriteDefault(args, index, state);
  return std::string(buffer, static_cast<std::size_t>(state.position - buffer));
}

NamedValueData RecordedValue(std::string_view name, const Arguments& args, const NamedArgument& a,
                             std::size_t index) {
  std::string text = TextOf(args, a, index);
  switch (SuffixOf(name)) {
    case Suffix::Bool: return ToBool(a, text);
    case Suffix::Int:
      return static_cast<std::int32_t>(std::clamp<std::int64_t>(ToInt64(a, text), std::numeric_limits<std::int32_t>::min(),
                                                                std::numeric_limits<std::int32_t>::max()));
    case Suffix::Long: return ToInt64(a, text);
    case Suffix::Float: return ToDouble(a, text);
    case Suffix::Time: return NamedTime{ToInt64(a, text)};
    case Suffix::Str:
    case Suffix::None: break;
  }
  return text;
}

}  // namespace

NamedMessage FormatNamedMessage(std::string_view pattern, const FormatArgumentDescriptor* descriptors,
                                const void* const* values, const NamedArgument* arguments,
                                std::size_t count) {
  NamedMessage result;
  char buffer[kMessageBufferSize];
  FormatState state;
  InitialiseState(state, buffer, sizeof buffer);
  Arguments args{descriptors, values, count};
  const std::size_t size = pattern.size();
  std::size_t i = 0;
  while (i < size && !state.full) {
    const char c = pattern[i];
    if (c == '%') {
      if (i + 1 < size && pattern[i + 1] == '%') {
        state.Write("%");
        i += 2;
        continue;
      }
      ++i;
      if (FormatSpecification(pattern, i, args, state) == Step::Stop) break;
      continue;
    }
    if (c == '}') {
      state.Write("}");
      i += i + 1 < size && pattern[i + 1] == '}' ? 2 : 1;
      continue;
    }
    if (c != '{') {
      const std::size_t next = std::min(pattern.find_first_of("%{}", i), size);
      state.Write(pattern.substr(i, next - i));
      i = next;
      continue;
    }
    if (i + 1 < size && pattern[i + 1] == '{') {
      state.Write("{");
      i += 2;
      continue;
    }

    ++i;
    const bool hidden = i < size && pattern[i] == '#';
    if (hidden) ++i;
    std::string name;
    bool unrecorded = false, quoted = false, optional = false, closed = false;
    while (i < size) {
      const char d = pattern[i++];
      if (d == '}') {
        closed = true;
        break;
      }
      if (d == '\\') {
        if (i < size) name += pattern[i++];
        continue;
      }
      if (d == '!') unrecorded = true;
      else if (d == ':') quoted = true;
      else if (d == '?') optional = true;
      else name += d;
    }
    if (!closed) break;
    if (args.next >= count) {
      if (optional) continue;
      break;
    }
    const std::size_t index = args.next++;
    if (!hidden) {
      if (quoted) state.Write("'");
      WriteDefault(args, index, state);
      if (quoted) state.Write("'");
    }
    if (!unrecorded) result.values.Set(name, RecordedValue(name, args, arguments[index], index));
  }
  *state.position = '\0';
  result.text.assign(buffer, static_cast<std::size_t>(state.position - buffer));
  return result;
}

namespace {

template <typename Items>
std::string JoinItems(const Items& items, std::string_view separator, std::string_view quote) {
  std::string text;
  bool first = true;
  for (const auto& item : items) {
    if (!first) text.append(separator);
    first = false;
    text.append(quote).append(item).append(quote);
  }
  return text;
}

}  // namespace

std::string Join(std::span<const std::string> items, std::string_view separator, std::string_view quote) {
  return JoinItems(items, separator, quote);
}

std::string Join(std::initializer_list<std::string_view> items, std::string_view separator,
                 std::string_view quote) {
  return JoinItems(items, separator, quote);
}

int FormatFixed(char* buffer, std::size_t size, const char* format, ...) noexcept {
  va_list list;
  va_start(list, format);
  const int n = std::vsnprintf(buffer, size, format, list);
  va_end(list);
  return n;
}

}  // namespace Vexa
