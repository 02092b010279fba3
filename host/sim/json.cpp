#include "sim/json.h"

#include <limits>
#include <utility>
#include <vector>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

namespace TovSim {

JsonWriter& JsonWriter::Raw(std::string_view json) {
  if (json.empty()) return Null();
  return Done(writer_.RawValue(json.data(), json.size(), rapidjson::kObjectType));
}

rapidjson::Document ParseJson(std::string_view text) {
  rapidjson::Document document;
  // Iterative: a hostile step file cannot exhaust the stack.
  document.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseNanAndInfFlag>(text.data(), text.size());
  return document;
}

std::string ToJson(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool CompactJson(std::string_view text, std::string* out) {
  rapidjson::StringBuffer buffer;
  // NaN and the infinities pass through as written: the core hands them to
  // the plug-in, so a trace must keep them.
  rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, rapidjson::CrtAllocator,
                    rapidjson::kWriteNanAndInfFlag>
      writer(buffer);
  rapidjson::MemoryStream stream(text.data(), text.size());
  rapidjson::Reader reader;
  if (reader.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseNanAndInfFlag>(
              stream, writer)
          .IsError())
    return false;
  out->assign(buffer.GetString(), buffer.GetSize());
  return true;
}

size_t Depth(const rapidjson::Value& value) {
  size_t deepest = 0;
  std::vector<std::pair<const rapidjson::Value*, size_t>> open{{&value, 0}};
  while (!open.empty()) {
    const auto [node, depth] = open.back();
    open.pop_back();
    deepest = std::max(deepest, depth);
    if (node->IsArray()) {
      for (const rapidjson::Value& item : node->GetArray()) open.emplace_back(&item, depth + 1);
    } else if (node->IsObject()) {
      for (const auto& member : node->GetObject()) open.emplace_back(&member.value, depth + 1);
    }
  }
  return deepest;
}

std::string Quoted(std::string_view text) { return JsonWriter().String(text).Text(); }

bool ReadInt(const rapidjson::Value& value, int64_t* out) {
  if (value.IsInt64()) {
    *out = value.GetInt64();
    return true;
  }
  if (value.IsUint64() && value.GetUint64() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    *out = static_cast<int64_t>(value.GetUint64());
    return true;
  }
  return false;
}

bool ReadUint(const rapidjson::Value& value, uint64_t* out) {
  if (value.IsUint64()) {
    *out = value.GetUint64();
    return true;
  }
  return false;
}

}  // namespace TovSim
