#include "bridge/openapi.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/api_text.h"
#include "core/core.h"

namespace TovBridge {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

// The binding's type codes, in the order TovHost::TypeCodeName names them.
enum TypeCode : uint32_t {
  kBool = 1,
  kInt8,
  kUint8,
  kInt16,
  kUint16,
  kInt32,
  kUint32,
  kInt64,
  kUint64,
  kFloat,
  kDouble,
  kString,
  kObject,
  kBlob,
  kVector,
  kEnum,
  kStruct,
  kCallback,
  kMap
};
enum Location : uint32_t { kQuery = 1, kPath = 2, kHeader = 4, kBody = 5 };
constexpr uint32_t kFirstMethod = 1, kLastMethod = 7, kCustomMethod = 8;

// A body is read in either, and the bridge answers in either by Accept.
constexpr const char* kMediaTypes[] = {"application/json", "application/x-msgpack"};

// Every text the document adds of its own.
constexpr const char* kTitle = "tov-vover-orevid-aredez";
constexpr const char* kFailureKey = "Failure";
constexpr const char* kFailureRef = "#/components/responses/Failure";
constexpr const char* kFailureText = "The plug-in refused or failed: its status, and its text as \"error\".";
constexpr const char* kSuccessText = "The function's answer.";
constexpr const char* kAnyValue = "Any value: the function answers with the value it built.";
constexpr const char* kUnnamedStruct = "A structure; the function's record does not say which registered type.";
constexpr const char* kUnnamedEnum = "An enumeration value by name; the record does not say which registered type.";
constexpr const char* kUnregistered = "Named after a type that is not registered: ";
constexpr const char* kCallbackText = "A callback, which no request can carry.";
constexpr const char* kUnknownCode = "A value of the unknown type code ";
constexpr const char* kAlsoHeader = "Also read from a request header of the same name.";
constexpr const char* kTemplateOnly = "A part of the path template that no argument takes.";
constexpr const char* kRestOfPath = "The rest of the path, slashes included.";
constexpr const char* kNoLeadingSlash = "the path template does not start with \"/\", and no request path fits it";
constexpr const char* kCustomMethodReason = "the custom method \"%\" has no operation key in OpenAPI 3.1";
constexpr const char* kUnknownMethod = "the method code % is none that a request carries";
constexpr const char* kShadowed = "an earlier function has the same method and path, and every request reaches it";
constexpr const char* kNoTemplateVariable = "the path template has no {%}";
constexpr const char* kSecondBody = "only the first body argument receives the body";
constexpr const char* kNoName = "an argument without a name cannot be given by name";
constexpr const char* kSameName = "an earlier argument has the same name and place";

// `pattern` with its "%" replaced by `value`.
std::string Fill(const char* pattern, const std::string& value) {
  std::string text = pattern;
  const size_t mark = text.find('%');
  return mark == std::string::npos ? text : text.replace(mark, 1, value);
}

const char* Text(const char* text) { return text ? text : ""; }

// A plug-in's texts are plain bytes and a JSON text must be UTF-8: every
// byte that starts no valid sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    const auto lead = static_cast<unsigned char>(in[i]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    bool ok = length != 0 && i + length <= in.size();
    uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (size_t k = 1; ok && k < length; ++k) {
      const auto next = static_cast<unsigned char>(in[i + k]);
      ok = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && code >= kLeast[length] && (code < 0xD800 || code > 0xDFFF) && code <= 0x10FFFF;
    if (ok) {
      out.append(in.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

void String(Writer& w, std::string_view text) {
  const std::string valid = ValidUtf8(text);
  w.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}
void Key(Writer& w, std::string_view text) {
  const std::string valid = ValidUtf8(text);
  w.Key(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}
void Field(Writer& w, std::string_view key, std::string_view value) { Key(w, key), String(w, value); }
void FieldIfAny(Writer& w, std::string_view key, const char* value) {
  if (*Text(value)) Field(w, key, value);
}

// The names of the registered types and the key each has under
// components.schemas, whose keys may hold only [A-Za-z0-9._-].
class TypeKeys {
 public:
  explicit TypeKeys(const ApiDescription& api) {
    std::set<std::string> used;
    for (uint32_t i = 0; i < api.typeCount; ++i) {
      const std::string name = Text(api.types[i].name);
      std::string key = name.empty() ? "type" : name;
      for (char& c : key) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                             c == '_' || c == '-';
        if (!allowed) c = '_';
      }
      const std::string base = key;
      for (int n = 2; used.contains(key); ++n) key = base + "_" + std::to_string(n);
      used.insert(key);
      keys_.push_back(key);
      byName_.emplace(name, i);  // the first registration of a name is the one the plug-in uses
    }
  }
  const std::string& KeyOf(uint32_t index) const { return keys_[index]; }
  // The component key of the type registered as `name`; null when none is.
  const std::string* Find(const std::string& name) const {
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : &keys_[found->second];
  }

 private:
  std::vector<std::string> keys_;
  std::map<std::string, uint32_t> byName_;
};

// Bounds of the integer codes kInt8 … kUint64 that their format alone does
// not carry to a validator.
struct IntegerRange {
  bool hasMinimum, hasMaximum;
  int64_t minimum;
  uint64_t maximum;
};
constexpr IntegerRange kIntegerRanges[] = {{true, true, INT8_MIN, INT8_MAX},
                                           {true, true, 0, UINT8_MAX},
                                           {true, true, INT16_MIN, INT16_MAX},
                                           {true, true, 0, UINT16_MAX},
                                           {true, true, INT32_MIN, INT32_MAX},
                                           {true, true, 0, UINT32_MAX},
                                           {false, false, 0, 0},
                                           {true, false, 0, 0}};

class Schemas {
 public:
  explicit Schemas(const TypeKeys& types) : types_(types) {}

  // The schema of a value of type `code`; a list's or map's element has
  // `elementCode`, and `typeName` names the struct or enum of either.
  void Write(Writer& w, uint32_t code, uint32_t elementCode, const char* typeName) const {
    w.StartObject();
    Body(w, code, elementCode, Text(typeName));
    w.EndObject();
  }
  // The same, or null: what the plug-in writes for a field it leaves empty.
  void WriteOptional(Writer& w, uint32_t code, uint32_t elementCode, const char* typeName) const {
    w.StartObject();
    Key(w, "anyOf");
    w.StartArray();
    Write(w, code, elementCode, typeName);
    w.StartObject();
    Field(w, "type", "null");
    w.EndObject();
    w.EndArray();
    w.EndObject();
  }

 private:
  void Body(Writer& w, uint32_t code, uint32_t elementCode, const std::string& typeName) const {
    switch (code) {
      case 0:
      case kObject: return;  // {} admits every value
      case kBool: return Field(w, "type", "boolean");
      case kFloat:
      case kDouble: return Field(w, "type", "number"), Field(w, "format", TovHost::TypeCodeName(code));
      case kString: return Field(w, "type", "string");
      case kBlob: return Field(w, "type", "string"), Field(w, "contentEncoding", "base64");
      case kVector:
        Field(w, "type", "array");
        Key(w, "items");
        return Write(w, elementCode, 0, typeName.c_str());
      case kMap:
        Field(w, "type", "object");
        Key(w, "additionalProperties");
        return Write(w, elementCode, 0, typeName.c_str());
      case kEnum:
      case kStruct: return Named(w, code, typeName);
      case kCallback: return Field(w, "description", kCallbackText);
      default:
        if (code >= kInt8 && code <= kUint64) return Integer(w, code);
        return Field(w, "description", kUnknownCode + std::to_string(code) + ".");
    }
  }
  static void Integer(Writer& w, uint32_t code) {
    Field(w, "type", "integer");
    Field(w, "format", TovHost::TypeCodeName(code));
    const IntegerRange& range = kIntegerRanges[code - kInt8];
    if (range.hasMinimum) Key(w, "minimum"), w.Int64(range.minimum);
    if (range.hasMaximum) Key(w, "maximum"), w.Uint64(range.maximum);
  }
  void Named(Writer& w, uint32_t code, const std::string& typeName) const {
    if (const std::string* key = types_.Find(typeName); key && !typeName.empty())
      return Field(w, "$ref", "#/components/schemas/" + *key);
    Field(w, "type", code == kEnum ? "string" : "object");
    Field(w, "description",
          typeName.empty() ? (code == kEnum ? kUnnamedEnum : kUnnamedStruct) : kUnregistered + typeName + ".");
  }

  const TypeKeys& types_;
};

// A path template as an OpenAPI path: "{x}" is one segment and "{+x}" the
// rest of the path (Core::Route reads them so); names a path parameter
// cannot have are replaced.
struct PathShape {
  struct Variable {
    std::string name;      // in the OpenAPI path
    std::string argument;  // the argument that takes it; "" when none can
    bool rest = false;
  };
  std::string key;
  std::vector<Variable> variables;
  bool routable = true;
};

PathShape ShapeOf(std::string_view pathTemplate) {
  PathShape shape;
  if (pathTemplate.empty() || pathTemplate[0] != '/') {
    shape.key = pathTemplate;
    shape.routable = false;
    return shape;
  }
  std::set<std::string> names;
  size_t start = 1;
  for (;;) {
    const size_t end = std::min(pathTemplate.find('/', start), pathTemplate.size());
    const std::string_view segment = pathTemplate.substr(start, end - start);
    shape.key += '/';
    const bool rest = segment.starts_with("{+") && segment.ends_with("}");
    if (rest || (segment.starts_with("{") && segment.ends_with("}"))) {
      const std::string_view name = segment.substr(rest ? 2 : 1, segment.size() - (rest ? 3 : 2));
      PathShape::Variable variable;
      variable.rest = rest;
      if (!name.empty() && name.find_first_of("{}") == std::string_view::npos && !names.contains(std::string(name)))
        variable.name = variable.argument = name;
      for (int n = 1; variable.name.empty() || names.contains(variable.name); ++n)
        variable.name = "param" + std::to_string(shape.variables.size() + n);
      names.insert(variable.name);
      shape.key += "{" + variable.name + "}";
      shape.variables.push_back(std::move(variable));
      if (rest) break;  // the router matches nothing after it
    } else {
      // A literal brace would read as a template expression.
      for (const char c : segment) shape.key += c == '{' ? "%7B" : c == '}' ? "%7D" : std::string(1, c);
    }
    if (end == pathTemplate.size()) break;
    start = end + 1;
  }
  return shape;
}

std::string LowerMethod(uint32_t method) {
  std::string name = TovHost::MethodName(method);
  for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
  return name;
}

class Document {
 public:
  Document(const ApiDescription& api, std::string_view version)
      : api_(WithoutDanglingCounts(api)), version_(version), types_(api_), schemas_(types_) {}

  std::string Json() {
    Place();
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.SetIndent(' ', 2);
    w.StartObject();
    Field(w, "openapi", "3.1.0");
    Key(w, "info");
    w.StartObject();
    Field(w, "title", kTitle);
    Field(w, "version", version_);
    w.EndObject();
    Paths(w);
    Components(w);
    Unlisted(w);
    Events(w);
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
  }

 private:
  // A count without its array is read as none, so a half-filled record
  // gives a smaller document rather than a crash.
  static ApiDescription WithoutDanglingCounts(ApiDescription api) {
    if (!api.functions) api.functionCount = 0;
    if (!api.types) api.typeCount = 0;
    if (!api.events) api.eventCount = 0;
    return api;
  }

  struct PathItem {
    PathShape shape;
    std::map<uint32_t, uint32_t> operations;  // method code → function index
  };
  struct UnlistedOperation {
    uint32_t function;
    uint32_t method;
    std::string reason;
  };

  // Which function each request reaches, as Core::Route chooses: for the
  // same method and path the first one registered.
  void Place() {
    std::map<std::string, size_t> itemByKey;
    for (uint32_t i = 0; i < api_.functionCount; ++i) {
      const PluginFunctionRecord& f = api_.functions[i];
      PathShape shape = ShapeOf(Text(f.pathTemplate));
      if (!shape.routable) {
        unlisted_.push_back({i, f.method, kNoLeadingSlash});
        continue;
      }
      if (f.method == kCustomMethod) {
        unlisted_.push_back({i, f.method, Fill(kCustomMethodReason, Text(f.customMethod))});
        continue;
      }
      if (f.method > kCustomMethod) {
        unlisted_.push_back({i, f.method, Fill(kUnknownMethod, std::to_string(f.method))});
        continue;
      }
      const auto [found, added] = itemByKey.emplace(shape.key, items_.size());
      if (added) items_.push_back({std::move(shape), {}});
      PathItem& item = items_[found->second];
      // Method 0 answers every method that no function before it takes.
      const uint32_t first = f.method == 0 ? kFirstMethod : f.method, last = f.method == 0 ? kLastMethod : f.method;
      bool placed = false;
      for (uint32_t method = first; method <= last; ++method) placed |= item.operations.emplace(method, i).second;
      if (!placed) unlisted_.push_back({i, f.method, kShadowed});
    }
  }

  void Paths(Writer& w) {
    Key(w, "paths");
    w.StartObject();
    for (const PathItem& item : items_) {
      Key(w, item.shape.key);
      w.StartObject();
      for (const auto& [method, function] : item.operations) {
        Key(w, LowerMethod(method));
        const PluginFunctionRecord& f = api_.functions[function];
        const bool spread = f.method == 0;
        Operation(w, f, item.shape, OperationId(function, spread ? LowerMethod(method) : ""));
      }
      w.EndObject();
    }
    w.EndObject();
  }

  // The function's name, made unique: a function that answers every
  // method has one operation per method.
  std::string OperationId(uint32_t function, const std::string& method) {
    std::string base = ValidUtf8(Text(api_.functions[function].description.name));
    if (base.empty()) base = "function-" + std::to_string(function + 1);
    if (!method.empty()) base += "." + method;
    std::string id = base;
    for (int n = 2; operationIds_.contains(id); ++n) id = base + "-" + std::to_string(n);
    operationIds_.insert(id);
    return id;
  }

  void Operation(Writer& w, const PluginFunctionRecord& f, const PathShape& shape, const std::string& operationId) {
    const PluginFunctionDescription& d = f.description;
    w.StartObject();
    Field(w, "operationId", operationId);
    FieldIfAny(w, "summary", d.description);
    FieldIfAny(w, "description", d.help);
    if (d.tags && d.tagCount > 0) {
      Key(w, "tags");
      w.StartArray();
      for (uint32_t t = 0; t < d.tagCount; ++t) String(w, Text(d.tags[t]));
      w.EndArray();
    }
    Arguments(w, d, shape);
    Key(w, "responses");
    w.StartObject();
    Key(w, "200");
    w.StartObject();
    Field(w, "description", kSuccessText);
    Key(w, "content");
    w.StartObject();
    for (const char* mediaType : kMediaTypes) {
      Key(w, mediaType);
      w.StartObject();
      Key(w, "schema");
      ReturnSchema(w, d);
      w.EndObject();
    }
    w.EndObject();
    w.EndObject();
    Key(w, "default");
    w.StartObject();
    Field(w, "$ref", kFailureRef);
    w.EndObject();
    w.EndObject();
    w.EndObject();
  }

  // A struct answer without a type name is a value the function built at
  // run time, of any shape.
  void ReturnSchema(Writer& w, const PluginFunctionDescription& d) const {
    if (d.returnTypeCode == kStruct && !*Text(d.returnTypeName)) {
      w.StartObject();
      Field(w, "description", kAnyValue);
      w.EndObject();
    } else {
      schemas_.Write(w, d.returnTypeCode, d.returnElementTypeCode, d.returnTypeName);
    }
  }

  // Parameters, the request body, and what no request can give.
  void Arguments(Writer& w, const PluginFunctionDescription& d, const PathShape& shape) {
    struct Unbound {
      const PluginArgumentDescription* argument;
      std::string reason;
    };
    std::vector<Unbound> unbound;
    std::vector<const PluginArgumentDescription*> parameters;
    std::vector<std::string_view> places;  // "path", "query" or "header", one per parameter
    std::vector<bool> variableTaken(shape.variables.size());
    std::set<std::pair<std::string, std::string>> seen;
    const PluginArgumentDescription* body = nullptr;
    const uint32_t count = d.arguments ? d.argumentCount : 0;
    for (uint32_t i = 0; i < count; ++i) {
      const PluginArgumentDescription& a = d.arguments[i];
      const std::string name = Text(a.name);
      if (a.location == kBody) {
        if (body)
          unbound.push_back({&a, kSecondBody});
        else
          body = &a;
        continue;
      }
      size_t variable = shape.variables.size();
      for (size_t v = 0; v < shape.variables.size(); ++v)
        if (!name.empty() && shape.variables[v].argument == name) variable = v;
      const bool inPath = variable < shape.variables.size();
      std::string_view place = "query";
      if (a.location == kPath || (inPath && a.location != kQuery && a.location != kHeader))
        place = "path";
      else if (a.location == kHeader)
        place = "header";
      if (name.empty()) {
        unbound.push_back({&a, kNoName});
      } else if (place == "path" && !inPath) {
        unbound.push_back({&a, Fill(kNoTemplateVariable, name)});
      } else if (!seen.emplace(name, std::string(place)).second) {
        unbound.push_back({&a, kSameName});
      } else {
        if (place == "path") variableTaken[variable] = true;
        parameters.push_back(&a);
        places.push_back(place);
      }
    }
    bool untaken = false;
    for (const bool taken : variableTaken) untaken |= !taken;
    if (!parameters.empty() || untaken) {
      Key(w, "parameters");
      w.StartArray();
      for (size_t p = 0; p < parameters.size(); ++p) Parameter(w, *parameters[p], places[p], shape);
      for (size_t v = 0; v < shape.variables.size(); ++v) {
        if (variableTaken[v]) continue;
        w.StartObject();
        Field(w, "name", shape.variables[v].name);
        Field(w, "in", "path");
        Key(w, "required"), w.Bool(true);
        Field(w, "description",
              shape.variables[v].rest ? std::string(kTemplateOnly) + " " + kRestOfPath : kTemplateOnly);
        Key(w, "schema");
        schemas_.Write(w, kString, 0, "");
        w.EndObject();
      }
      w.EndArray();
    }
    if (body) RequestBody(w, *body);
    if (!unbound.empty()) {
      Key(w, "x-unbound-arguments");
      w.StartArray();
      for (const Unbound& u : unbound) {
        w.StartObject();
        Field(w, "name", Text(u.argument->name));
        Field(w, "location", TovHost::ArgumentLocationName(u.argument->location));
        Field(w, "reason", u.reason);
        Key(w, "schema");
        schemas_.Write(w, u.argument->typeCode, u.argument->elementTypeCode, "");
        w.EndObject();
      }
      w.EndArray();
    }
  }

  void Parameter(Writer& w, const PluginArgumentDescription& a, std::string_view place, const PathShape& shape) {
    const bool path = place == "path";
    bool rest = false;
    for (const auto& variable : shape.variables) rest |= path && variable.argument == Text(a.name) && variable.rest;
    std::string description = Text(a.description);
    const auto append = [&description](const char* note) {
      description += (description.empty() ? "" : " ") + std::string(note);
    };
    if (rest) append(kRestOfPath);
    if (place == "query" && a.location != kQuery) append(kAlsoHeader);
    w.StartObject();
    Field(w, "name", Text(a.name));
    Field(w, "in", place);
    if (!description.empty()) Field(w, "description", description);
    Key(w, "required"), w.Bool(path || !a.optional);
    Key(w, "schema");
    schemas_.Write(w, a.typeCode, a.elementTypeCode, "");
    w.EndObject();
  }

  void RequestBody(Writer& w, const PluginArgumentDescription& a) {
    Key(w, "requestBody");
    w.StartObject();
    FieldIfAny(w, "description", a.description);
    Key(w, "required"), w.Bool(!a.optional);
    Key(w, "content");
    w.StartObject();
    for (const char* mediaType : kMediaTypes) {
      Key(w, mediaType);
      w.StartObject();
      Key(w, "schema");
      schemas_.Write(w, a.typeCode, a.elementTypeCode, "");
      w.EndObject();
    }
    w.EndObject();
    w.EndObject();
  }

  void Components(Writer& w) {
    Key(w, "components");
    w.StartObject();
    Key(w, "schemas");
    w.StartObject();
    for (uint32_t i = 0; i < api_.typeCount; ++i) {
      Key(w, types_.KeyOf(i));
      Type(w, api_.types[i]);
    }
    w.EndObject();
    Key(w, "responses");
    w.StartObject();
    Key(w, kFailureKey);
    w.StartObject();
    Field(w, "description", kFailureText);
    Key(w, "content");
    w.StartObject();
    for (const char* mediaType : kMediaTypes) {
      Key(w, mediaType);
      w.StartObject();
      Key(w, "schema");
      w.StartObject();
      Field(w, "type", "object");
      Key(w, "properties");
      w.StartObject();
      Key(w, "error");
      schemas_.Write(w, kString, 0, "");
      w.EndObject();
      Key(w, "required");
      w.StartArray();
      String(w, "error");
      w.EndArray();
      w.EndObject();
      w.EndObject();
    }
    w.EndObject();
    w.EndObject();
    w.EndObject();
    w.EndObject();
  }

  // A struct as an object of its fields; an enum as the names the plug-in
  // writes, in the order of their values.
  void Type(Writer& w, const PluginTypeDescription& t) const {
    const uint32_t count = t.members ? t.memberCount : 0;
    w.StartObject();
    Field(w, "title", Text(t.name));
    FieldIfAny(w, "description", t.description);
    if (t.isEnum) {
      std::vector<const PluginMemberDescription*> values;
      for (uint32_t m = 0; m < count; ++m) values.push_back(&t.members[m]);
      std::stable_sort(values.begin(), values.end(), [](const auto* a, const auto* b) { return a->value < b->value; });
      std::set<std::string> names;
      Field(w, "type", "string");
      Key(w, "enum");
      w.StartArray();
      for (const PluginMemberDescription* value : values)
        if (names.insert(ValidUtf8(Text(value->name))).second) String(w, Text(value->name));
      w.EndArray();
    } else {
      std::set<std::string> names;
      Field(w, "type", "object");
      Key(w, "properties");
      w.StartObject();
      for (uint32_t m = 0; m < count; ++m) {
        const PluginMemberDescription& field = t.members[m];
        if (!names.insert(ValidUtf8(Text(field.name))).second) continue;  // the plug-in writes the first
        Key(w, Text(field.name));
        if (field.optional)
          schemas_.WriteOptional(w, field.typeCode, field.elementTypeCode, field.typeName);
        else
          schemas_.Write(w, field.typeCode, field.elementTypeCode, field.typeName);
      }
      w.EndObject();
    }
    w.EndObject();
  }

  // Functions that no request reaches, so that the document still shows
  // everything the plug-in exports.
  void Unlisted(Writer& w) {
    if (unlisted_.empty()) return;
    Key(w, "x-unlisted-operations");
    w.StartArray();
    for (const UnlistedOperation& u : unlisted_) {
      const PluginFunctionRecord& f = api_.functions[u.function];
      w.StartObject();
      Field(w, "method",
            u.method == 0               ? std::string("ANY")
            : u.method == kCustomMethod ? std::string(Text(f.customMethod))
            : u.method < kCustomMethod  ? std::string(TovHost::MethodName(u.method))
                                        : std::to_string(u.method));
      Field(w, "path", Text(f.pathTemplate));
      Field(w, "reason", u.reason);
      Key(w, "operation");
      Operation(w, f, ShapeOf(Text(f.pathTemplate)), OperationId(u.function, ""));
      w.EndObject();
    }
    w.EndArray();
  }

  void Events(Writer& w) const {
    if (api_.eventCount == 0) return;
    Key(w, "x-events");
    w.StartArray();
    for (uint32_t i = 0; i < api_.eventCount; ++i) {
      const PluginEventDescription& e = api_.events[i];
      w.StartObject();
      Field(w, "name", Text(e.name));
      FieldIfAny(w, "description", e.description);
      Key(w, "payload");
      schemas_.Write(w, e.payloadTypeCode, 0, e.payloadTypeName);
      w.EndObject();
    }
    w.EndArray();
  }

  ApiDescription api_;
  std::string version_;
  TypeKeys types_;
  Schemas schemas_;
  std::vector<PathItem> items_;
  std::vector<UnlistedOperation> unlisted_;
  std::set<std::string> operationIds_;
};

}  // namespace

std::string OpenApiJson(const ApiDescription& api, std::string_view version) { return Document(api, version).Json(); }

}  // namespace TovBridge
