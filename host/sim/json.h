// JSON text for the simulator: a small writer for the messages it builds and
// a reader for the texts it is given (call arguments, step files).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace TovSim {

class JsonWriter {
 public:
  JsonWriter() : writer_(buffer_) {}

  JsonWriter& BeginObject() { return Done(writer_.StartObject()); }
  JsonWriter& EndObject() { return Done(writer_.EndObject()); }
  JsonWriter& BeginArray() { return Done(writer_.StartArray()); }
  JsonWriter& EndArray() { return Done(writer_.EndArray()); }
  JsonWriter& Key(std::string_view key) { return Done(writer_.Key(key.data(), Size(key))); }
  JsonWriter& String(std::string_view text) { return Done(writer_.String(text.data(), Size(text))); }
  JsonWriter& Int(int64_t value) { return Done(writer_.Int64(value)); }
  JsonWriter& Uint(uint64_t value) { return Done(writer_.Uint64(value)); }
  JsonWriter& Double(double value) { return Done(writer_.Double(value)); }
  JsonWriter& Bool(bool value) { return Done(writer_.Bool(value)); }
  JsonWriter& Null() { return Done(writer_.Null()); }
  // A value already written as JSON; empty text writes null.
  JsonWriter& Raw(std::string_view json);

  std::string Text() const { return std::string(buffer_.GetString(), buffer_.GetSize()); }

 private:
  static rapidjson::SizeType Size(std::string_view text) { return static_cast<rapidjson::SizeType>(text.size()); }
  JsonWriter& Done(bool) { return *this; }

  rapidjson::StringBuffer buffer_;
  rapidjson::Writer<rapidjson::StringBuffer> writer_;
};

// Parses `text`; on malformed text the document HasParseError().
rapidjson::Document ParseJson(std::string_view text);
// The compact JSON of a value (recursive: for values of bounded depth).
std::string ToJson(const rapidjson::Value& value);
// Any JSON text as compact JSON, read and written as a stream, so any depth
// costs no stack; NaN, Infinity and -Infinity are kept; false when the text
// is not JSON.
bool CompactJson(std::string_view text, std::string* out);
// How deeply the value nests (a scalar is 0), found without recursion.
size_t Depth(const rapidjson::Value& value);
// A JSON string literal of `text`.
std::string Quoted(std::string_view text);

// Readers that accept what the plug-in may send for one number: Int64 or
// UInt64 alike. False when the value is not a whole number.
bool ReadInt(const rapidjson::Value& value, int64_t* out);
bool ReadUint(const rapidjson::Value& value, uint64_t* out);

}  // namespace TovSim
