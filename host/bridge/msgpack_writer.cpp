#include "bridge/msgpack_writer.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace TovBridge {
namespace {

// MessagePack writes a container's size before its items, and a SAX reader
// only knows it at the end; so the text is read twice, the first time only
// to count each container's items in the order the containers open.
struct Counter : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Counter> {
  std::vector<uint32_t> counts;
  std::vector<size_t> open;  // indices into counts
  bool Default() { return true; }
  bool StartObject() { return Open(); }
  bool StartArray() { return Open(); }
  bool EndObject(rapidjson::SizeType members) { return Close(members); }
  bool EndArray(rapidjson::SizeType elements) { return Close(elements); }
  bool Open() {
    open.push_back(counts.size());
    counts.push_back(0);
    return true;
  }
  bool Close(rapidjson::SizeType count) {
    counts[open.back()] = count;
    open.pop_back();
    return true;
  }
};

class Writer : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Writer> {
 public:
  Writer(const std::vector<uint32_t>& counts, std::string& out) : counts_(counts), out_(out) {}

  bool Null() { return Byte(0xc0); }
  bool Bool(bool b) { return Byte(b ? 0xc3 : 0xc2); }
  bool Int(int i) { return Int64(i); }
  bool Uint(unsigned u) { return Uint64(u); }
  bool Int64(int64_t i) {
    if (i >= 0) return Uint64(static_cast<uint64_t>(i));
    if (i >= -32) return Byte(static_cast<uint8_t>(i));
    if (i >= INT8_MIN) return Byte(0xd0) && Big(static_cast<uint8_t>(i), 1);
    if (i >= INT16_MIN) return Byte(0xd1) && Big(static_cast<uint16_t>(i), 2);
    if (i >= INT32_MIN) return Byte(0xd2) && Big(static_cast<uint32_t>(i), 4);
    return Byte(0xd3) && Big(static_cast<uint64_t>(i), 8);
  }
  bool Uint64(uint64_t u) {
    if (u < 128) return Byte(static_cast<uint8_t>(u));
    if (u <= UINT8_MAX) return Byte(0xcc) && Big(u, 1);
    if (u <= UINT16_MAX) return Byte(0xcd) && Big(u, 2);
    if (u <= UINT32_MAX) return Byte(0xce) && Big(u, 4);
    return Byte(0xcf) && Big(u, 8);
  }
  bool Double(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return Byte(0xcb) && Big(bits, 8);
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    if (length < 32) {
      Byte(static_cast<uint8_t>(0xa0 | length));
    } else if (length <= UINT8_MAX) {
      Byte(0xd9) && Big(length, 1);
    } else if (length <= UINT16_MAX) {
      Byte(0xda) && Big(length, 2);
    } else {
      Byte(0xdb) && Big(length, 4);
    }
    out_.append(text, length);
    return true;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool copy) { return String(text, length, copy); }
  bool StartObject() { return Header(0x80, 0xde, 0xdf); }
  bool StartArray() { return Header(0x90, 0xdc, 0xdd); }
  bool EndObject(rapidjson::SizeType) { return true; }
  bool EndArray(rapidjson::SizeType) { return true; }

 private:
  bool Byte(uint8_t byte) {
    out_.push_back(static_cast<char>(byte));
    return true;
  }
  bool Big(uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out_.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    return true;
  }
  bool Header(uint8_t fix, uint8_t sixteen, uint8_t thirtyTwo) {
    const uint32_t count = counts_[next_++];
    if (count < 16) return Byte(static_cast<uint8_t>(fix | count));
    if (count <= UINT16_MAX) return Byte(sixteen) && Big(count, 2);
    return Byte(thirtyTwo) && Big(count, 4);
  }

  const std::vector<uint32_t>& counts_;
  std::string& out_;
  size_t next_ = 0;
};

constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag;

}  // namespace

bool JsonToMessagePack(std::string_view json, std::string* out) {
  Counter counter;
  {
    rapidjson::MemoryStream stream(json.data(), json.size());
    rapidjson::Reader reader;
    if (reader.Parse<kFlags>(stream, counter).IsError()) return false;
    // Only blanks may follow the value.
    for (size_t i = stream.Tell(); i < json.size(); ++i)
      if (json[i] != ' ' && json[i] != '\n' && json[i] != '\r' && json[i] != '\t') return false;
  }
  std::string packed;
  packed.reserve(json.size());
  Writer writer(counter.counts, packed);
  rapidjson::MemoryStream stream(json.data(), json.size());
  rapidjson::Reader reader;
  if (reader.Parse<kFlags>(stream, writer).IsError()) return false;
  *out = std::move(packed);
  return true;
}

}  // namespace TovBridge
