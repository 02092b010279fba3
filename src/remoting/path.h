// Function names, path templates and their matching, percent-decoding and
// query strings: the text side of routing.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "remoting/method.h"

namespace Vexa {

// "Get" + "/" + path, camel-cased at "!+-./_", "{" as "By"; with no method
// the text alone ("tov-vover-orevid-aredez" gives "TovVoverOrevidAredez").
std::string MakeFunctionName(RemotingMethod method, std::string_view text);

// "+" as a space, "%XY" as one byte (a non-digit counts as 16), a "%" with
// fewer than two characters after it dropped.
std::string PercentDecode(std::string_view text);

// Decoded key to decoded value; a later key replaces an earlier one.
std::map<std::string, std::string> ParseQueryString(std::string_view text);

enum class PathParameterKind : std::uint32_t { Plain = 1, Reserved = 2, Fragment = 3 };

struct PathParameter {
  PathParameterKind kind;
  std::string name;
};

struct PathRegex {
  std::string text;  // ECMAScript, unanchored: the whole path must match
  std::vector<PathParameter> parameters;
};

// "{name}" as "([^/]*)", "{+name}" as "(.*)", "{#name}" as "#(.*)"; the
// characters "^$.*+?()[]|\" outside parameters escaped.
PathRegex PathTemplateToRegex(std::string_view pathTemplate);

// A path template compiled once. Matches exactly as the regular expression
// of PathTemplateToRegex would under a backtracking engine (each group as
// long as the rest still matches), but in time and memory linear in the
// path: libstdc++'s std::regex recurses per character and cannot take a
// long path. Like the expression, "{x}" stops at "/" and "{+x}", "{#x}"
// (ECMAScript's ".") at "\n" and "\r".
class PathMatcher {
 public:
  explicit PathMatcher(std::string_view pathTemplate);

  bool IsLiteral() const noexcept { return literal_; }
  const std::string& Template() const noexcept { return template_; }
  const PathRegex& Regex() const noexcept { return regex_; }
  // The raw (not yet decoded) text of each parameter, in order; false when
  // the path does not match.
  bool Match(std::string_view path, std::vector<std::string_view>& captures) const;

 private:
  struct Element {
    std::string literal;     // empty for a group
    std::string_view stops;  // a group: the characters it cannot take
  };

  std::string template_;
  bool literal_;
  PathRegex regex_;
  std::vector<Element> elements_;
};

}  // namespace Vexa
