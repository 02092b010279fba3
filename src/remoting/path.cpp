#include "remoting/path.h"

#include <bit>
#include <cstring>

namespace Vexa {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// What a group of each kind cannot take: "[^/]" and ".".
constexpr std::string_view kSegmentStops = "/";
constexpr std::string_view kLineStops = "\n\r";

unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 16;
}

// One bit per path position, one row per template element.
class Reach {
 public:
  Reach(std::size_t rows, std::size_t positions) : words_((positions + 64) / 64) {
    bits_.assign(rows * words_, 0);
  }
  void Set(std::size_t row, std::size_t position) { bits_[row * words_ + position / 64] |= 1ull << (position % 64); }
  bool Test(std::size_t row, std::size_t position) const {
    return bits_[row * words_ + position / 64] >> (position % 64) & 1;
  }
  // The largest set position in [from, to], or npos.
  std::size_t LastIn(std::size_t row, std::size_t from, std::size_t to) const {
    const std::uint64_t* words = bits_.data() + row * words_;
    for (std::size_t w = to / 64 + 1; w-- > from / 64;) {
      std::uint64_t word = words[w];
      if (w == to / 64 && to % 64 != 63) word &= (2ull << (to % 64)) - 1;
      if (w == from / 64) word &= ~0ull << (from % 64);
      if (word) return w * 64 + 63 - static_cast<std::size_t>(std::countl_zero(word));
    }
    return std::string_view::npos;
  }
  // Calls f(position) for every set position of the row, in rising order.
  template <typename F>
  void ForEach(std::size_t row, F&& f) const {
    const std::uint64_t* words = bits_.data() + row * words_;
    for (std::size_t w = 0; w < words_; ++w)
      for (std::uint64_t word = words[w]; word; word &= word - 1)
        f(w * 64 + static_cast<std::size_t>(std::countr_zero(word)));
  }

 private:
  std::size_t words_;
  std::vector<std::uint64_t> bits_;
};

}  // namespace

std::string MakeFunctionName(RemotingMethod method, std::string_view text) {
  std::string source;
  const std::string_view methodName = MethodName(method);
  if (!methodName.empty()) {
    source += methodName.front();
    for (const char c : methodName.substr(1)) source += Lower(c);
    source += '/';
  }
  source.append(text);
  std::string name;
  name.reserve(source.size());
  bool capitalise = true;
  for (const char c : source) {
    if (std::strchr("!+-./_", c) && c != '\0') {
      capitalise = true;
    } else if (c == '{') {
      name += "By";
      capitalise = true;
    } else if (c != '}') {
      name += capitalise ? Upper(c) : c;
      capitalise = false;
    }
  }
  return name;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else if (text.size() - i > 2) {
      out += static_cast<char>(((HexValue(text[i + 1]) * 16) & 0xFF) | HexValue(text[i + 2]));
      i += 2;
    } else {
      out.append(text.substr(i + 1));  // a short escape loses its "%" only
      break;
    }
  }
  return out;
}

std::map<std::string, std::string> ParseQueryString(std::string_view text) {
  std::map<std::string, std::string> query;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('&', start), text.size());
    const std::string_view piece = text.substr(start, end - start);
    const std::size_t equals = piece.find('=');
    std::string key = PercentDecode(piece.substr(0, equals));
    std::string value = equals == std::string_view::npos ? std::string() : PercentDecode(piece.substr(equals + 1));
    query.insert_or_assign(std::move(key), std::move(value));
    start = end + 1;
  }
  return query;
}

PathRegex PathTemplateToRegex(std::string_view pathTemplate) {
  PathRegex regex;
  bool inside = false;
  PathParameterKind kind = PathParameterKind::Plain;
  std::string name;
  for (const char c : pathTemplate) {
    if (!inside) {
      if (c == '{') {
        inside = true;
        kind = PathParameterKind::Plain;
        name.clear();
      } else {
        if (std::strchr("^$.*+?()[]|\\", c) && c != '\0') regex.text += '\\';
        regex.text += c;
      }
    } else if (c == '}') {
      regex.text += kind == PathParameterKind::Plain ? "([^/]*)" : kind == PathParameterKind::Reserved ? "(.*)" : "#(.*)";
      regex.parameters.push_back({kind, std::move(name)});
      name.clear();
      inside = false;
    } else if (name.empty() && c == '+') {
      kind = PathParameterKind::Reserved;
    } else if (name.empty() && c == '#') {
      kind = PathParameterKind::Fragment;
    } else {
      name += c;
    }
  }
  return regex;
}

PathMatcher::PathMatcher(std::string_view pathTemplate)
    : template_(pathTemplate), literal_(pathTemplate.find('{') == std::string_view::npos) {
  if (literal_) return;
  regex_ = PathTemplateToRegex(pathTemplate);
  // The same walk as the regular expression, as literal runs and groups.
  const auto literal = [&](std::string_view text) {
    if (text.empty()) return;
    if (!elements_.empty() && !elements_.back().literal.empty()) elements_.back().literal.append(text);
    else elements_.push_back({std::string(text), {}});
  };
  bool inside = false;
  bool nameEmpty = true;
  PathParameterKind kind = PathParameterKind::Plain;
  for (const char c : pathTemplate) {
    if (!inside) {
      if (c == '{') inside = true, nameEmpty = true, kind = PathParameterKind::Plain;
      else literal(std::string_view(&c, 1));
    } else if (c == '}') {
      if (kind == PathParameterKind::Fragment) literal("#");
      elements_.push_back({std::string(), kind == PathParameterKind::Plain ? kSegmentStops : kLineStops});
      inside = false;
    } else if (nameEmpty && c == '+') {
      kind = PathParameterKind::Reserved;
    } else if (nameEmpty && c == '#') {
      kind = PathParameterKind::Fragment;
    } else {
      nameEmpty = false;
    }
  }
}

bool PathMatcher::Match(std::string_view path, std::vector<std::string_view>& captures) const {
  captures.clear();
  if (literal_) return path == template_;
  const std::size_t n = path.size(), count = elements_.size();
  // Row i: the positions from which elements i.. match the rest of the path
  // to its end. Built from the last element back, then walked forwards
  // taking for each group the longest text that keeps the rest matching.
  Reach reach(count + 1, n + 1);
  reach.Set(count, n);
  for (std::size_t i = count; i-- > 0;) {
    const Element& element = elements_[i];
    if (!element.literal.empty()) {
      const std::size_t length = element.literal.size();
      reach.ForEach(i + 1, [&](std::size_t k) {
        if (k >= length && path.compare(k - length, length, element.literal) == 0) reach.Set(i, k - length);
      });
      continue;
    }
    std::size_t nextSet = std::string_view::npos, nextStop = n;
    for (std::size_t j = n + 1; j-- > 0;) {
      if (reach.Test(i + 1, j)) nextSet = j;
      if (j < n && element.stops.find(path[j]) != std::string_view::npos) nextStop = j;
      if (nextSet <= nextStop) reach.Set(i, j);
    }
  }
  if (!reach.Test(0, 0)) return false;
  std::size_t position = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Element& element = elements_[i];
    if (!element.literal.empty()) {
      position += element.literal.size();
      continue;
    }
    const std::size_t limit = std::min(path.find_first_of(element.stops, position), n);
    const std::size_t end = reach.LastIn(i + 1, position, limit);
    captures.push_back(path.substr(position, end - position));
    position = end;
  }
  return true;
}

}  // namespace Vexa
