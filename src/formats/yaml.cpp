#include "formats/yaml.h"

#include <langinfo.h>
#include <yaml.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/conversion.h"
#include "binding/message_format.h"
#include "binding/saturate.h"
#include "formats/sibling_shapes.h"

namespace Vexa {
namespace {

// Every message of the reader, in one place.
constexpr std::string_view kMultiDocument = "Multi-document YAML is not supported.";
constexpr std::string_view kInvalidKey = "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2";
constexpr std::string_view kSequenceAsKey = "Unexpected start of sequence. At line: %1 col: %2";
constexpr std::string_view kMappingAsKey = "Unexpected start of mapping. At line: %1 col: %2";
constexpr std::string_view kCyclicAlias = "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";
constexpr std::string_view kUndefinedAlias = "Undefined alias encountered: \"%1\". At line: %2 col: %3";
constexpr std::string_view kDuplicateAnchor = "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3";
constexpr std::string_view kUnsupportedTag = "Unsupported YAML tag '%1'.";
constexpr std::string_view kParserError = "YAML parser error: %1. At line: %2 col: %3";
constexpr std::string_view kAliasTooLarge = "Alias expansion is too large. Alias \"%1\". At line: %2 col: %3";
constexpr std::string_view kTooDeep = "YAML nesting is too deep. At line: %1 col: %2";
constexpr std::string_view kTooLarge = "YAML document is too large.";

constexpr std::string_view kStrTag = "tag:yaml.org,2002:str";
constexpr std::string_view kIntTag = "tag:yaml.org,2002:int";
constexpr std::string_view kFloatTag = "tag:yaml.org,2002:float";
constexpr std::string_view kBoolTag = "tag:yaml.org,2002:bool";

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

// A scalar's text with a NUL after it, for strtod: scalars are short, so most
// need no heap.
class Terminated {
 public:
  explicit Terminated(std::string_view text) {
    if (text.size() < sizeof local_) {
      text.copy(local_, text.size());
      local_[text.size()] = '\0';
      data_ = local_;
    } else {
      heap_.assign(text);
      data_ = heap_.c_str();
    }
  }
  Terminated(const Terminated&) = delete;
  Terminated& operator=(const Terminated&) = delete;

  const char* c_str() const noexcept { return data_; }

 private:
  char local_[48];
  std::string heap_;
  const char* data_;
};

// An optional sign and decimal or "0x" hexadecimal digits: a text strtod
// reads as a whole number too, but rounds above 2^53. Reading it as an
// integer keeps 64-bit identifiers exact; beyond the 64-bit ranges it is a
// Float, even where rounding would land on the range's end. The digits are
// summed here rather than by strtoull, which would need a terminated copy;
// the ranges are strtoull's and strtoll's.
bool ResolveIntegerLiteral(BindingNode& target, std::string_view text) {
  const bool negative = text[0] == '-';
  std::size_t digits = negative || text[0] == '+' ? 1 : 0;
  std::uint64_t base = 10;
  if (text.size() > digits + 2 && text[digits] == '0' && (text[digits + 1] == 'x' || text[digits + 1] == 'X')) {
    base = 16;
    digits += 2;
  }
  if (digits == text.size()) return false;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (std::size_t i = digits; i < text.size(); ++i) {
    const char c = text[i];
    const char lower = static_cast<char>(c | 0x20);
    std::uint64_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<std::uint64_t>(c - '0');
    else if (base == 16 && lower >= 'a' && lower <= 'f') digit = static_cast<std::uint64_t>(lower - 'a' + 10);
    else return false;
    // Every character is still checked after an overflow: a later non-digit
    // makes the text no integer at all.
    overflow = overflow || __builtin_mul_overflow(magnitude, base, &magnitude) ||
               __builtin_add_overflow(magnitude, digit, &magnitude);
  }
  constexpr std::uint64_t kNegativeLimit = std::uint64_t{1} << 63;
  if (overflow || (negative && magnitude > kNegativeLimit)) {
    target.SetFloat(std::strtod(Terminated(text).c_str(), nullptr));
  } else if (negative && magnitude != 0) {
    // -2^63 has no positive counterpart: negate in unsigned arithmetic.
    target.SetSigned(static_cast<std::int64_t>(~magnitude + 1));
  } else {
    // "-0" is no negative number, as it is not for the double path either.
    target.SetUnsigned(magnitude);
  }
  return true;
}

// Whether strtod reads "." as the decimal point, as it does in the C locale;
// it follows the thread's locale, which the host may have set otherwise.
bool PointIsRadix() {
  const char* const radix = nl_langinfo(RADIXCHAR);
  return radix[0] == '.' && radix[1] == '\0';
}

// What strtod reads from an optional sign, digits and a point, 15 digits at
// most, where "." is the decimal point: the digits and the power of ten are
// both exact doubles, so one division rounds as strtod does, in any rounding
// mode. None for any other text.
std::optional<double> ShortDecimal(std::string_view text) {
  // Evaluated in a wider type, the division would round twice.
  if constexpr (FLT_EVAL_METHOD != 0) return std::nullopt;
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = text[0] == '-';
  std::uint64_t digits = 0;
  int count = 0;
  int decimals = -1;  // none before the point
  for (std::size_t i = negative || text[0] == '+' ? 1 : 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
      ++count;
      if (decimals >= 0) ++decimals;
    } else if (c == '.' && decimals < 0) {
      decimals = 0;
    } else {
      return std::nullopt;
    }
  }
  if (count == 0 || count > 15 || decimals < 0) return std::nullopt;
  const double magnitude = static_cast<double>(digits);
  return (negative ? -magnitude : magnitude) / kPowersOfTen[decimals];
}

// A plain scalar that strtod reads whole (and that is not +infinity), as a
// number node: Float when it has a fraction or is NaN, else an integer.
// Whole values beyond the 64-bit ranges stay Float: casting them would be
// undefined, and saturating would invent a value.
bool ResolvePlainNumber(BindingNode& target, std::string_view text, bool pointIsRadix) {
  if (text.empty()) return false;
  if (ResolveIntegerLiteral(target, text)) return true;
  double value;
  if (const std::optional<double> decimal = pointIsRadix ? ShortDecimal(text) : std::nullopt) {
    value = *decimal;
  } else {
    const Terminated terminated(text);  // strtod reads up to a NUL, the scalar has a length
    char* end = nullptr;
    value = std::strtod(terminated.c_str(), &end);
    if (end != terminated.c_str() + text.size() || value == HUGE_VAL) return false;
  }
  if (std::isnan(value) || std::floor(value) != value || value < -kTwoTo63 || value >= kTwoTo64) {
    target.SetFloat(value);
  } else if (value < 0) {
    target.SetSigned(static_cast<std::int64_t>(value));
  } else {
    target.SetUnsigned(static_cast<std::uint64_t>(value));
  }
  return true;
}

// An untagged plain scalar: null, a number, a boolean or a String, in that
// order. Most texts are decided by their first character: no null or boolean
// word starts with a digit, a sign or a point, and strtod reads no number
// from a letter other than those of "inf" and "nan". The rest take every
// check in turn.
void ResolvePlain(BindingNode& target, std::string_view text, bool pointIsRadix) {
  if (text.empty()) {
    target.Reset();
    return;
  }
  const char first = text[0];
  const char lower = static_cast<char>(first | 0x20);
  if ((first >= '0' && first <= '9') || first == '-' || first == '+' || first == '.') {
    if (!ResolvePlainNumber(target, text, pointIsRadix)) target.SetString(text);
    return;
  }
  if (lower >= 'a' && lower <= 'z' && lower != 'i' && lower != 'n') {
    // Only these begin a boolean word.
    if (lower != 't' && lower != 'y' && lower != 'o' && lower != 'f') target.SetString(text);
    else if (IsTrueWord(text)) target.SetBool(true);
    else if (IsFalseWord(text)) target.SetBool(false);
    else target.SetString(text);
    return;
  }
  if (IsNullWord(text)) target.Reset();
  else if (ResolvePlainNumber(target, text, pointIsRadix)) return;
  else if (IsTrueWord(text)) target.SetBool(true);
  else if (IsFalseWord(text)) target.SetBool(false);
  else target.SetString(text);
}

void ResolveUntagged(BindingNode& target, std::string_view text, bool quoted, bool pointIsRadix) {
  if (quoted) target.SetString(text);
  else ResolvePlain(target, text, pointIsRadix);
}

struct Mark {
  std::size_t line;
  std::size_t column;
};

Mark StartOf(const yaml_event_t& event) { return {event.start_mark.line + 1, event.start_mark.column + 1}; }

std::string_view Text(const yaml_char_t* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

bool IsQuoted(yaml_scalar_style_t style) {
  return style == YAML_SINGLE_QUOTED_SCALAR_STYLE || style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
}

// An anchored mapping key's text.
using Key = std::optional<std::string>;

// The event handler.
//
// Anchored nodes are found again by their path from the root, since element
// arrays move as they grow. Paths live in one arena as a tree of steps, each
// pointing at its parent, so an anchor costs one index however deep it sits.
// Steps of nodes that are closed and carry no anchor below them are dropped
// again. Field names of steps sit in a second arena that grows and shrinks
// with the first, so a step costs no allocation of its own.
class Builder {
 public:
  Builder(BindingProperty& result, std::size_t textLength)
      : result_(result),
        budget_(textLength > (std::numeric_limits<std::size_t>::max() - kBudgetBase) / kBudgetPerByte
                    ? std::numeric_limits<std::size_t>::max()
                    : kBudgetBase + kBudgetPerByte * textLength) {
    // Room for the usual nesting, so that none grows step by step.
    open_.reserve(16);
    paths_.reserve(16);
    pathKeys_.reserve(256);
    paths_.push_back({kNoParent, 0, 0, 0, 0, false, true});
  }

  // False once the result has failed.
  bool Handle(const yaml_event_t& event) {
    // Half the events are scalars: one test before the jump table, whose
    // target is hard to predict.
    if (event.type == YAML_SCALAR_EVENT) return Scalar(event);
    switch (event.type) {
      case YAML_DOCUMENT_START_EVENT:
        // The anchor table lives for the whole stream.
        if (!result_.IsEmpty()) return Fail(kMultiDocument);
        return true;
      case YAML_ALIAS_EVENT: return Alias(event);
      case YAML_SEQUENCE_START_EVENT:
        return Open(event, Text(event.data.sequence_start.anchor), kSequenceAsKey,
                    event.data.sequence_start.style == YAML_FLOW_SEQUENCE_STYLE, true);
      case YAML_MAPPING_START_EVENT:
        return Open(event, Text(event.data.mapping_start.anchor), kMappingAsKey,
                    event.data.mapping_start.style == YAML_FLOW_MAPPING_STYLE, false);
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT: Close(); return true;
      default: return true;
    }
  }

 private:
  // Alias expansion may spend this much work in all, counted in nodes copied
  // plus path steps walked (and a step per 32 bytes of a key it hashes or
  // compares): room for any document that shares data through aliases
  // (a 100-node anchor used 2,500 times), far below a quadratic or
  // exponential blow-up, and within a few times the memory of the text's
  // own nodes.
  static constexpr std::size_t kBudgetBase = std::size_t{1} << 18;
  static constexpr std::size_t kBudgetPerByte = 4;
  static constexpr std::size_t kBytesPerStep = 32;
  // libyaml 0.2 rescans every open flow level for each token, so its time is
  // the text's length times the flow depth.
  static constexpr std::size_t kMaxFlowDepth = 256;
  static constexpr std::size_t kNoParent = std::numeric_limits<std::size_t>::max();

  struct PathStep {
    std::size_t parent;
    std::size_t cost;     // of walking here from the root
    std::size_t keyAt;    // where the field's name starts in `pathKeys_`
    std::size_t keySize;
    std::uint32_t index;  // the element's index, when not a field
    bool field;
    bool pinned;          // an anchor refers to this step or one below it
  };

  struct Anchor {
    Key key;               // an anchored mapping key's text, or
    std::size_t path = 0;  // the anchored node's path
    bool open = false;     // the node is an ancestor of what comes next
  };

  struct OpenNode {
    BindingNode* node;
    std::size_t path;
    bool flow;
    Anchor* anchor;          // entries of an unordered_map keep their address
    bool container = false;  // opened as one, not a scalar or an alias's copy
    std::uint32_t keys = 0;  // names read so far
  };

  bool Fail(std::string_view message) {
    result_.SetFailure(message);
    return false;
  }

  bool FailAt(std::string_view pattern, const yaml_event_t& event) {
    const Mark at = StartOf(event);
    return Fail(Format(pattern, at.line, at.column));
  }

  bool FailAt(std::string_view pattern, std::string_view name, const yaml_event_t& event) {
    const Mark at = StartOf(event);
    return Fail(Format(pattern, name, at.line, at.column));
  }

  bool InKeyPosition() const {
    return !open_.empty() && open_.back().node->GetKind() == BindingKind::Structure && !hasKey_;
  }

  std::string_view KeyOf(const PathStep& step) const { return {pathKeys_.data() + step.keyAt, step.keySize}; }

  std::size_t AddStep(std::size_t parent, std::uint32_t index) {
    paths_.push_back({parent, paths_[parent].cost + 1, pathKeys_.size(), 0, index, false, false});
    return paths_.size() - 1;
  }

  std::size_t AddStep(std::size_t parent, std::string_view key) {
    const std::size_t cost = paths_[parent].cost + 1 + key.size() / kBytesPerStep;
    paths_.push_back({parent, cost, pathKeys_.size(), key.size(), 0, true, false});
    pathKeys_.append(key);
    return paths_.size() - 1;
  }

  void SetKey(std::string_view key) {
    key_.assign(key);
    hasKey_ = true;
  }

  // The pending key's field in the innermost open node, a Structure.
  BindingNode& KeyedField() {
    hasKey_ = false;
    OpenNode& parent = open_.back();
    return shapes_.Field(*parent.node, open_.size() - 1, parent.keys++, key_);
  }

  // Picks the node the next value goes to and opens it: a new element, the
  // pending key's field, or (at the root) the root itself.
  BindingNode& Target() {
    if (open_.empty()) {
      open_.push_back({&result_, 0, false, nullptr});
      return result_;
    }
    OpenNode& parent = open_.back();
    if (parent.node->GetKind() == BindingKind::Collection) {
      const std::uint32_t index = parent.node->Size();
      BindingNode& element = parent.node->At(index);
      const std::size_t path = AddStep(parent.path, index);
      open_.push_back({&element, path, false, nullptr});
      return element;
    }
    if (parent.node->GetKind() == BindingKind::Structure && hasKey_) {
      BindingNode& field = KeyedField();
      const std::size_t path = AddStep(parent.path, key_);
      open_.push_back({&field, path, false, nullptr});
      return field;
    }
    return *parent.node;
  }

  // Where a scalar without an anchor goes: as Target, but nothing is opened,
  // since nothing will look for it by its path.
  BindingNode& ScalarTarget() {
    if (open_.empty()) return result_;
    BindingNode& parent = *open_.back().node;
    if (parent.GetKind() == BindingKind::Collection) return parent.At(parent.Size());
    if (parent.GetKind() == BindingKind::Structure && hasKey_) return KeyedField();
    return parent;
  }

  void Close() {
    if (open_.empty()) return;
    const OpenNode& node = open_.back();
    if (node.anchor) node.anchor->open = false;
    if (node.flow) --flowDepth_;
    if (node.container) shapes_.Closed(*node.node, open_.size() - 1);
    // Every step opened below this one has been closed: an unpinned step is
    // the arena's last, and its name the last in `pathKeys_`.
    if (!paths_[node.path].pinned && node.path == paths_.size() - 1) {
      pathKeys_.resize(paths_.back().keyAt);
      paths_.pop_back();
    }
    open_.pop_back();
  }

  // Records an anchor on the innermost open node.
  bool RecordNode(std::string_view name, const yaml_event_t& event) {
    if (name.empty()) return true;
    const auto [entry, added] = anchors_.try_emplace(std::string(name));
    if (!added) return FailAt(kDuplicateAnchor, name, event);
    OpenNode& node = open_.back();
    entry->second.path = node.path;
    entry->second.open = true;
    node.anchor = &entry->second;
    for (std::size_t step = node.path; step != kNoParent && !paths_[step].pinned; step = paths_[step].parent)
      paths_[step].pinned = true;
    return true;
  }

  bool Scalar(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    const std::string_view text(reinterpret_cast<const char*>(scalar.value), scalar.length);
    // Most scalars carry neither tag nor anchor: an element, a key or a
    // field's value, which cannot fail.
    if (scalar.tag == nullptr && scalar.anchor == nullptr && !open_.empty()) {
      BindingNode& parent = *open_.back().node;
      if (parent.GetKind() == BindingKind::Collection) {
        ResolveUntagged(parent.At(static_cast<std::uint32_t>(parent.Elements().size())), text,
                        IsQuoted(scalar.style), pointIsRadix_);
        return true;
      }
      if (parent.GetKind() == BindingKind::Structure) {
        if (!hasKey_) {
          SetKey(text);
          return true;
        }
        ResolveUntagged(KeyedField(), text, IsQuoted(scalar.style), pointIsRadix_);
        return true;
      }
    }
    return AnyScalar(event);
  }

  // Kept out of line, so that the common case above stays small.
  [[gnu::noinline]] bool AnyScalar(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    const std::string_view text(reinterpret_cast<const char*>(scalar.value), scalar.length);
    const std::string_view tag = Text(scalar.tag);
    const std::string_view anchor = Text(scalar.anchor);
    if (InKeyPosition()) {
      if (!tag.empty() && tag != kStrTag) return FailAt(kInvalidKey, event);
      SetKey(text);
      if (anchor.empty()) return true;
      const auto [entry, added] = anchors_.try_emplace(std::string(anchor));
      if (!added) return FailAt(kDuplicateAnchor, anchor, event);
      entry->second.key.emplace(text);
      return true;
    }
    if (anchor.empty()) {
      ResolveYamlScalar(result_, ScalarTarget(), tag, text, IsQuoted(scalar.style));
      return result_.IsValid();
    }
    BindingNode& target = Target();
    ResolveYamlScalar(result_, target, tag, text, IsQuoted(scalar.style));
    if (!result_.IsValid() || !RecordNode(anchor, event)) return false;
    Close();
    return true;
  }

  bool Open(const yaml_event_t& event, std::string_view anchor, std::string_view keyMessage, bool flow,
            bool sequence) {
    if (InKeyPosition()) return FailAt(keyMessage, event);
    if (flow && flowDepth_ >= kMaxFlowDepth) return FailAt(kTooDeep, event);
    BindingNode& target = Target();
    if (sequence) target.MakeCollection();
    else target.MakeStructure();
    shapes_.Opened(target, open_.size() - 1);
    open_.back().container = true;
    if (flow) {
      open_.back().flow = true;
      ++flowDepth_;
    }
    return RecordNode(anchor, event);
  }

  bool Spend(std::size_t work, std::string_view alias, const yaml_event_t& event) {
    if (work > budget_) return FailAt(kAliasTooLarge, alias, event);
    budget_ -= work;
    return true;
  }

  static bool IsRoot(const Anchor& anchor) { return !anchor.key && anchor.path == 0; }

  // The node an anchored path leads to now; EmptyNode() where a later value
  // replaced a node on the way.
  const BindingNode& Walk(std::size_t path) {
    walk_.clear();
    for (std::size_t step = path; paths_[step].parent != kNoParent; step = paths_[step].parent) walk_.push_back(step);
    const BindingNode* node = &result_;
    for (auto step = walk_.rbegin(); step != walk_.rend(); ++step) {
      const PathStep& at = paths_[*step];
      node = at.field ? &node->Find(KeyOf(at)) : &node->At(at.index);
    }
    return *node;
  }

  // Nodes under and including `root`, counted up to one past `limit`.
  std::size_t CountNodes(const BindingNode& root, std::size_t limit) {
    std::size_t count = 0;
    pending_.assign(1, &root);
    while (!pending_.empty() && count <= limit) {
      const BindingNode* node = pending_.back();
      pending_.pop_back();
      ++count;
      for (const BindingNode& element : node->Elements()) pending_.push_back(&element);
      for (const auto field : node->Fields()) pending_.push_back(&field.value);
    }
    return count;
  }

  bool Alias(const yaml_event_t& event) {
    const std::string_view name = Text(event.data.alias.anchor);
    const auto found = anchors_.find(std::string(name));
    // An anchor left by an earlier document names the root (only an empty
    // document may come before another), which now encloses every target.
    if (found != anchors_.end() && (found->second.open || (IsRoot(found->second) && !open_.empty())))
      return FailAt(kCyclicAlias, name, event);
    if (found == anchors_.end()) return FailAt(kUndefinedAlias, name, event);
    const Anchor& anchor = found->second;
    if (InKeyPosition()) {
      // An alias as a key names the field by the anchored key's text, or by
      // an anchored string.
      std::string_view key;
      if (anchor.key) {
        key = *anchor.key;
      } else {
        if (!Spend(paths_[anchor.path].cost, name, event)) return false;
        const BindingNode& node = Walk(anchor.path);
        if (node.GetKind() != BindingKind::String) return FailAt(kInvalidKey, event);
        key = node.GetString();
      }
      if (!Spend(1 + key.size() / kBytesPerStep, name, event)) return false;
      SetKey(key);
      return true;
    }
    if (anchor.key) {
      if (!Spend(1 + anchor.key->size() / kBytesPerStep, name, event)) return false;
      Target().SetString(*anchor.key);
    } else {
      if (!Spend(paths_[anchor.path].cost, name, event)) return false;
      // The target is opened first: appending it may move its siblings, one
      // of which may be the anchored node. That node is complete (it is not
      // open), so it is neither the target nor one of its ancestors.
      BindingNode& target = Target();
      const BindingNode& source = Walk(anchor.path);
      if (!Spend(CountNodes(source, budget_), name, event)) return false;
      target = source;
    }
    Close();
    return true;
  }

  BindingProperty& result_;
  std::vector<OpenNode> open_;
  std::vector<PathStep> paths_;  // [0] is the root
  std::string pathKeys_;
  std::string key_;  // the field the next value goes to, when `hasKey_`
  bool hasKey_ = false;
  SiblingShapes shapes_;
  const bool pointIsRadix_ = PointIsRadix();
  std::unordered_map<std::string, Anchor> anchors_;
  std::size_t flowDepth_ = 0;
  std::size_t budget_;
  std::vector<std::size_t> walk_;            // scratch of Walk
  std::vector<const BindingNode*> pending_;  // scratch of CountNodes
};

// libyaml's parser and its current event, released on every path.
class Parser {
 public:
  explicit Parser(std::string_view text) {
    if (yaml_parser_initialize(&parser_) == 0) throw std::bad_alloc();
    yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
    // libyaml asserts on a null input even for no bytes, and a default
    // string_view (an empty body, an empty file) has a null data pointer.
    const char* const input = text.empty() ? "" : text.data();
    yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(input), text.size());
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

  // libyaml's own line and column, counted from 0.
  std::string Error() const {
    const char* problem = parser_.problem ? parser_.problem
                          : parser_.error == YAML_MEMORY_ERROR ? "out of memory"
                                                               : "unknown problem";
    return Format(kParserError, problem, parser_.problem_mark.line, parser_.problem_mark.column);
  }

 private:
  yaml_parser_t parser_;
  yaml_event_t event_;
  bool hasEvent_ = false;
};

}  // namespace

void ResolveYamlScalar(BindingProperty& result, BindingNode& target, std::string_view tag, std::string_view text,
                       bool quoted) {
  if (tag.empty()) {
    ResolveUntagged(target, text, quoted, !quoted && PointIsRadix());
    return;
  }
  if (tag == kStrTag) {
    target.SetString(text);
  } else if (tag == kIntTag || tag == kFloatTag) {
    BindingProperty input;
    input.SetString(text);
    if (tag == kFloatTag) {
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
  } else if (tag == kBoolTag) {
    // Not a boolean word: no value, and no error either. A repeated key's
    // earlier value goes too.
    if (IsTrueWord(text)) target.SetBool(true);
    else if (IsFalseWord(text)) target.SetBool(false);
    else target.Reset();
  } else {
    result.SetFailure(Format(kUnsupportedTag, tag));
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
    result.SetFailure(kTooLarge);
  } catch (const std::bad_alloc&) {
    result.SetFailure(kTooLarge);
  }
  return result;
}

bool LooksLikeYaml(std::string_view text) noexcept {
  const std::size_t first = text.find_first_not_of(' ');
  return first != std::string_view::npos && text.substr(first).starts_with("---");
}

}  // namespace Vexa
