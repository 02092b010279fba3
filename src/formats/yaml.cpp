#include "formats/yaml.h"

#include <yaml.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "binding/conversion.h"
#include "binding/message_format.h"

namespace Vexa {
namespace {

constexpr std::string_view kStrTag = "tag:yaml.org,2002:str";

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> words) {
  for (const std::string_view word : words)
    if (text == word) return true;
  return false;
}

bool IsNullWord(std::string_view text) { return IsOneOf(text, {"", "~", "null", "Null", "NULL"}); }
bool IsTrueWord(std::string_view text) {
  return IsOneOf(text, {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"});
}
bool IsFalseWord(std::string_view text) {
  return IsOneOf(text, {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"});
}

// A plain scalar that strtod reads whole, as a number node. Values beyond
// the 64-bit integer ranges stay Float rather than wrap.
bool ResolvePlainNumber(BindingNode& target, std::string_view text) {
  if (text.empty()) return false;
  const std::string copy(text);  // strtod needs the terminator at the scalar's end
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || value == HUGE_VAL) return false;
  constexpr double kTwo63 = 9223372036854775808.0;
  if (std::isnan(value) || std::floor(value) != value || value < -kTwo63 || value >= 2 * kTwo63) {
    target.SetFloat(value);
  } else if (value < 0) {
    target.SetSigned(static_cast<std::int64_t>(value));
  } else {
    target.SetUnsigned(static_cast<std::uint64_t>(value));
  }
  return true;
}

struct Mark {
  std::size_t line;
  std::size_t column;
};

Mark StartOf(const yaml_event_t& event) { return {event.start_mark.line + 1, event.start_mark.column + 1}; }

std::string_view Text(const yaml_char_t* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// One step from a node to a child: an element index or a field name.
using Step = std::variant<std::uint32_t, std::string>;

// The event handler. Open nodes are the ancestors of the next value; their
// element arrays grow only at the innermost one, so the pointers stay valid
// while they are open.
class Builder {
 public:
  Builder(BindingProperty& result, std::size_t textLength)
      : result_(result), aliasBudget_(kAliasBase + kAliasPerByte * textLength) {}

  // False once the result has failed.
  bool Handle(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_DOCUMENT_START_EVENT:
        if (!result_.IsEmpty()) return Fail("Multi-document YAML is not supported.");
        return true;
      case YAML_SCALAR_EVENT: return Scalar(event);
      case YAML_ALIAS_EVENT: return Alias(event);
      case YAML_SEQUENCE_START_EVENT:
        return Open(event, Text(event.data.sequence_start.anchor), "Unexpected start of sequence. At line: %1 col: %2",
                    true);
      case YAML_MAPPING_START_EVENT:
        return Open(event, Text(event.data.mapping_start.anchor), "Unexpected start of mapping. At line: %1 col: %2",
                    false);
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT: Close(); return true;
      default: return true;
    }
  }

 private:
  // Expanded aliases may create this many nodes in all: enough for any
  // document that uses aliases to share data, far below a quadratic or
  // exponential blow-up.
  static constexpr std::size_t kAliasBase = 1000000;
  static constexpr std::size_t kAliasPerByte = 16;
  // libyaml's scanner does work proportional to the open depth for every
  // token, so deep nesting would cost time quadratic in the input; no real
  // document comes near this.
  static constexpr std::size_t kMaxDepth = 512;

  struct OpenNode {
    BindingNode* node;
    bool hasStep;  // false for the root
    std::string anchor;
  };

  bool Fail(std::string message) {
    result_.SetFailure(message);
    return false;
  }

  bool InKeyPosition() const {
    return !open_.empty() && open_.back().node->GetKind() == BindingKind::Structure && !pendingKey_;
  }

  // Picks the node the next value goes to and opens it.
  BindingNode& Target() {
    if (open_.empty()) {
      open_.push_back({&result_, false, {}});
      return result_;
    }
    BindingNode& parent = *open_.back().node;
    if (parent.GetKind() == BindingKind::Collection) {
      const std::uint32_t index = static_cast<std::uint32_t>(parent.Size());
      BindingNode& element = parent.At(index);
      steps_.emplace_back(index);
      open_.push_back({&element, true, {}});
      return element;
    }
    if (parent.GetKind() == BindingKind::Structure && pendingKey_) {
      BindingNode& field = parent.Field(*pendingKey_);
      steps_.emplace_back(std::move(*pendingKey_));
      pendingKey_.reset();
      open_.push_back({&field, true, {}});
      return field;
    }
    return parent;
  }

  void Close() {
    if (open_.empty()) return;
    if (open_.back().hasStep) steps_.pop_back();
    if (!open_.back().anchor.empty()) {
      auto it = openAnchors_.find(open_.back().anchor);
      if (--it->second == 0) openAnchors_.erase(it);
    }
    open_.pop_back();
  }

  bool Record(std::string_view anchor, const yaml_event_t& event, std::variant<std::string, std::vector<Step>> item) {
    if (anchor.empty()) return true;
    const Mark at = StartOf(event);
    if (!anchors_.emplace(std::string(anchor), std::move(item)).second) {
      return Fail(Format("Duplicate occurrence of anchor \"%1\". At line: %2 col: %3", anchor, at.line, at.column));
    }
    return true;
  }

  bool Scalar(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    const std::string_view text(reinterpret_cast<const char*>(scalar.value), scalar.length);
    const std::string_view tag = Text(scalar.tag);
    if (InKeyPosition()) {
      if (!tag.empty() && tag != kStrTag) {
        const Mark at = StartOf(event);
        return Fail(Format("Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2", at.line,
                           at.column));
      }
      pendingKey_.emplace(text);
      return Record(Text(scalar.anchor), event, std::string(text));
    }
    BindingNode& target = Target();
    const bool quoted =
        scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE || scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    ResolveYamlScalar(result_, target, tag, text, quoted);
    if (!result_.IsValid()) return false;
    if (!Record(Text(scalar.anchor), event, steps_)) return false;
    Close();
    return true;
  }

  bool Open(const yaml_event_t& event, std::string_view anchor, std::string_view keyMessage, bool sequence) {
    if (InKeyPosition()) {
      const Mark at = StartOf(event);
      return Fail(Format(keyMessage, at.line, at.column));
    }
    if (open_.size() >= kMaxDepth) {
      const Mark at = StartOf(event);
      return Fail(Format("YAML nesting is too deep. At line: %1 col: %2", at.line, at.column));
    }
    BindingNode& target = Target();
    if (sequence) {
      target.MakeCollection();
    } else {
      target.MakeStructure();
    }
    if (!Record(anchor, event, steps_)) return false;
    if (!anchor.empty()) {
      open_.back().anchor = anchor;
      ++openAnchors_[open_.back().anchor];
    }
    return true;
  }

  // The node a recorded path leads to from the root.
  const BindingNode& Walk(const std::vector<Step>& path) const {
    const BindingNode* node = &result_;
    for (const Step& step : path) {
      node = std::holds_alternative<std::uint32_t>(step) ? &node->At(std::get<std::uint32_t>(step))
                                                          : &node->Find(std::get<std::string>(step));
    }
    return *node;
  }

  static std::size_t CountNodes(const BindingNode& root, std::size_t limit) {
    std::size_t count = 0;
    std::vector<const BindingNode*> pending{&root};
    while (!pending.empty() && count <= limit) {
      const BindingNode* node = pending.back();
      pending.pop_back();
      ++count;
      for (const BindingNode& element : node->Elements()) pending.push_back(&element);
      for (const auto field : node->Fields()) pending.push_back(&field.value);
    }
    return count;
  }

  bool Alias(const yaml_event_t& event) {
    const std::string_view name = Text(event.data.alias.anchor);
    const Mark at = StartOf(event);
    if (openAnchors_.count(std::string(name)) != 0) {
      return Fail(Format("Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3", name, at.line,
                         at.column));
    }
    const auto found = anchors_.find(std::string(name));
    if (found == anchors_.end()) {
      return Fail(Format("Undefined alias encountered: \"%1\". At line: %2 col: %3", name, at.line, at.column));
    }
    if (InKeyPosition()) {
      // An alias used as a key names the field by the anchored key's text,
      // or by an anchored string.
      if (const auto* key = std::get_if<std::string>(&found->second)) {
        pendingKey_.emplace(*key);
        return true;
      }
      const BindingNode& node = Walk(std::get<std::vector<Step>>(found->second));
      if (node.GetKind() != BindingKind::String) {
        return Fail(Format("Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2", at.line,
                           at.column));
      }
      pendingKey_.emplace(node.GetString());
      return true;
    }
    if (const auto* key = std::get_if<std::string>(&found->second)) {
      Target().SetString(*key);
    } else {
      // The target is opened first: appending it may move its siblings, one
      // of which may be the anchored node. That node is complete (it is not
      // open), so it is neither the target nor one of its ancestors.
      BindingNode& target = Target();
      const BindingNode& source = Walk(std::get<std::vector<Step>>(found->second));
      const std::size_t nodes = CountNodes(source, aliasBudget_);
      if (nodes > aliasBudget_) {
        return Fail(Format("Alias expansion is too large. Alias \"%1\". At line: %2 col: %3", name, at.line,
                           at.column));
      }
      aliasBudget_ -= nodes;
      target = source;
    }
    Close();
    return true;
  }

  BindingProperty& result_;
  std::vector<OpenNode> open_;
  std::vector<Step> steps_;  // steps_[i] leads to the (i+1)-th open node with a step
  std::optional<std::string> pendingKey_;
  std::unordered_map<std::string, std::variant<std::string, std::vector<Step>>> anchors_;
  std::unordered_map<std::string, std::size_t> openAnchors_;
  std::size_t aliasBudget_;
};

// libyaml's parser and its current event, released on every path.
class Parser {
 public:
  Parser(std::string_view text) {
    yaml_parser_initialize(&parser_);
    yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  }
  ~Parser() {
    if (hasEvent_) yaml_event_delete(&event_);
    yaml_parser_delete(&parser_);
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // The next event, or null on a parser error.
  const yaml_event_t* Next() {
    if (hasEvent_) yaml_event_delete(&event_);
    hasEvent_ = yaml_parser_parse(&parser_, &event_) != 0;
    return hasEvent_ ? &event_ : nullptr;
  }

  std::string Error() const {
    const char* problem = parser_.problem ? parser_.problem : "unknown problem";
    return Format("YAML parser error: %1. At line: %2 col: %3", problem, parser_.problem_mark.line,
                  parser_.problem_mark.column);
  }

 private:
  yaml_parser_t parser_;
  yaml_event_t event_;
  bool hasEvent_ = false;
};

}  // namespace

void ResolveYamlScalar(BindingProperty& result, BindingNode& target, std::string_view tag, std::string_view text,
                       bool quoted) {
  if (!tag.empty()) {
    if (tag == kStrTag) {
      target.SetString(text);
      return;
    }
    const bool isInt = tag == "tag:yaml.org,2002:int";
    if (isInt || tag == "tag:yaml.org,2002:float") {
      BindingProperty input;
      input.SetString(text);
      if (!isInt) {
        const double value = DoubleFromBinding(result, input, "yaml", std::numeric_limits<double>::max(), "double");
        if (result.IsValid()) target.SetFloat(value);
      } else if (text.starts_with('-')) {
        const std::int64_t value = SignedFromBinding(result, input, "yaml", std::numeric_limits<std::int64_t>::min(),
                                                     std::numeric_limits<std::int64_t>::max(), "int64_t");
        if (result.IsValid()) target.SetSigned(value);
      } else {
        const std::uint64_t value =
            UnsignedFromBinding(result, input, "yaml", std::numeric_limits<std::uint64_t>::max(), "uint64_t");
        if (result.IsValid()) target.SetUnsigned(value);
      }
      return;
    }
    if (tag == "tag:yaml.org,2002:bool") {
      if (IsTrueWord(text)) target.SetBool(true);
      else if (IsFalseWord(text)) target.SetBool(false);
      return;
    }
    result.SetFailure(Format("Unsupported YAML tag '%1'.", tag));
    return;
  }
  if (quoted) {
    target.SetString(text);
  } else if (IsNullWord(text)) {
    target.Reset();
  } else if (ResolvePlainNumber(target, text)) {
  } else if (IsTrueWord(text)) {
    target.SetBool(true);
  } else if (IsFalseWord(text)) {
    target.SetBool(false);
  } else {
    target.SetString(text);
  }
}

BindingProperty ParseYaml(std::string_view text) {
  BindingProperty result;
  try {
    Parser parser(text);
    Builder builder(result, text.size());
    while (result.IsValid()) {
      const yaml_event_t* event = parser.Next();
      if (event == nullptr) {
        result.SetFailure(parser.Error());
        break;
      }
      if (event->type == YAML_STREAM_END_EVENT || !builder.Handle(*event)) break;
    }
  } catch (const std::length_error&) {
    result.SetFailure("YAML document is too large.");
  } catch (const std::bad_alloc&) {
    result.SetFailure("YAML document is too large.");
  }
  return result;
}

bool LooksLikeYaml(std::string_view text) noexcept {
  const std::size_t first = text.find_first_not_of(' ');
  return first != std::string_view::npos && text.substr(first).starts_with("---");
}

}  // namespace Vexa
