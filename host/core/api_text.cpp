#include "core/api_text.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

namespace TovHost {
namespace {

const char* Text(const char* text) { return text ? text : ""; }

const char* Method(uint32_t method) {
  static const char* const names[] = {"ANY", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", "CUSTOM"};
  return method < 9 ? names[method] : "ANY";
}

}  // namespace

const char* TypeCodeName(uint32_t code) {
  static const char* const names[] = {"",       "bool",   "int8",   "uint8",  "int16",     "uint16", "int32",
                                      "uint32", "int64",  "uint64", "float",  "double",    "string", "object",
                                      "blob",   "vector", "enum",   "struct", "callback",  "map"};
  return code < sizeof names / sizeof names[0] ? names[code] : "";
}

const char* ArgumentLocationName(uint32_t location) {
  switch (location) {
    case 1: return "query";
    case 2: return "path";
    case 4: return "header";
    case 5: return "body";
    default: return "any";
  }
}

std::string EpytextTypeName(uint32_t code, uint32_t elementCode, const char* typeName) {
  if (code == 15) return "list[" + EpytextTypeName(elementCode, 0, typeName) + "]";
  if (code == 19) return "dict[" + EpytextTypeName(elementCode, 0, typeName) + "]";
  if (code == 16 || code == 17) return std::string("L{") + Text(typeName) + "}";
  if (code == 14) return "bytearray";
  return TypeCodeName(code);
}

std::string ApiAsJson(const ApiDescription& api) {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
  w.SetIndent(' ', 2);
  w.StartObject();
  w.Key("functions");
  w.StartArray();
  for (uint32_t i = 0; i < api.functionCount; ++i) {
    const PluginFunctionRecord& f = api.functions[i];
    w.StartObject();
    w.Key("name"), w.String(Text(f.description.name));
    w.Key("method"), w.String(Method(f.method));
    w.Key("path"), w.String(Text(f.pathTemplate));
    w.Key("arguments");
    w.StartArray();
    for (uint32_t a = 0; a < f.description.argumentCount; ++a) {
      const PluginArgumentDescription& arg = f.description.arguments[a];
      w.StartObject();
      w.Key("name"), w.String(Text(arg.name));
      w.Key("type"), w.String(TypeCodeName(arg.typeCode));
      w.Key("location"), w.String(ArgumentLocationName(arg.location));
      w.Key("optional"), w.Bool(arg.optional != 0);
      w.EndObject();
    }
    w.EndArray();
    w.Key("returns"), w.String(EpytextTypeName(f.description.returnTypeCode, f.description.returnElementTypeCode,
                                               f.description.returnTypeName)
                                   .c_str());
    w.Key("description"), w.String(Text(f.description.description));
    w.EndObject();
  }
  w.EndArray();
  w.Key("types");
  w.StartArray();
  for (uint32_t i = 0; i < api.typeCount; ++i) {
    const PluginTypeDescription& t = api.types[i];
    w.StartObject();
    w.Key("name"), w.String(Text(t.name));
    w.Key("nameSpace"), w.String(Text(t.nameSpace));
    w.Key("kind"), w.String(t.isEnum ? "enum" : "struct");
    w.Key("size"), w.Uint(t.nativeSize);
    w.Key(t.isEnum ? "values" : "fields");
    w.StartArray();
    for (uint32_t m = 0; m < t.memberCount; ++m) {
      const PluginMemberDescription& member = t.members[m];
      w.StartObject();
      w.Key("name"), w.String(Text(member.name));
      if (t.isEnum) {
        w.Key("value"), w.Int(member.value);
      } else {
        w.Key("type"), w.String(EpytextTypeName(member.typeCode, member.elementTypeCode, member.typeName).c_str());
        w.Key("offset"), w.Int(member.value);
      }
      w.EndObject();
    }
    w.EndArray();
    w.Key("description"), w.String(Text(t.description));
    w.EndObject();
  }
  w.EndArray();
  w.Key("events");
  w.StartArray();
  for (uint32_t i = 0; i < api.eventCount; ++i) {
    const PluginEventDescription& e = api.events[i];
    w.StartObject();
    w.Key("name"), w.String(Text(e.name));
    w.Key("type"), w.String(EpytextTypeName(e.payloadTypeCode, 0, e.payloadTypeName).c_str());
    w.Key("description"), w.String(Text(e.description));
    w.EndObject();
  }
  w.EndArray();
  w.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

std::string ApiAsEpytext(const ApiDescription& api) {
  std::string out;
  for (uint32_t i = 0; i < api.functionCount; ++i) {
    const PluginFunctionDescription& f = api.functions[i].description;
    out += std::string(Method(api.functions[i].method)) + " " + Text(api.functions[i].pathTemplate) + "  (" +
           Text(f.name) + ")\n";
    if (*Text(f.description)) out += std::string("  ") + f.description + "\n";
    for (uint32_t a = 0; a < f.argumentCount; ++a) {
      const PluginArgumentDescription& arg = f.arguments[a];
      if (*Text(arg.description)) out += std::string("  @param ") + Text(arg.name) + ": " + arg.description + "\n";
      out += std::string("  @type ") + Text(arg.name) + ": " +
             EpytextTypeName(arg.typeCode, arg.elementTypeCode, "") + " (" + ArgumentLocationName(arg.location) + ")\n";
    }
    if (f.returnTypeCode)
      out += "  @rtype: " + EpytextTypeName(f.returnTypeCode, f.returnElementTypeCode, f.returnTypeName) + "\n";
    out += "\n";
  }
  for (uint32_t i = 0; i < api.typeCount; ++i) {
    const PluginTypeDescription& t = api.types[i];
    out += std::string(t.isEnum ? "enum " : "struct ") + Text(t.name) + "\n";
    if (*Text(t.description)) out += std::string("  ") + t.description + "\n";
    for (uint32_t m = 0; m < t.memberCount; ++m) {
      const PluginMemberDescription& member = t.members[m];
      if (t.isEnum) {
        out += std::string("  @cvar ") + Text(member.name) + ": (" + std::to_string(member.value) + ")\n";
      } else {
        out += std::string("  @ivar ") + Text(member.name) + ": " + Text(member.description) + "\n";
        out += std::string("  @type ") + Text(member.name) + ": " +
               EpytextTypeName(member.typeCode, member.elementTypeCode, member.typeName) + "\n";
      }
    }
    if (t.isEnum) out += "  @size: " + std::to_string(t.nativeSize) + "\n";
    out += "\n";
  }
  for (uint32_t i = 0; i < api.eventCount; ++i) {
    const PluginEventDescription& e = api.events[i];
    out += std::string("event ") + Text(e.name) + ": " + EpytextTypeName(e.payloadTypeCode, 0, e.payloadTypeName) +
           "\n";
    if (*Text(e.description)) out += std::string("  ") + e.description + "\n";
    out += "\n";
  }
  return out;
}

}  // namespace TovHost
