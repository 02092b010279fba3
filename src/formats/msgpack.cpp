#include "formats/msgpack.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/message_format.h"
#include "formats/sibling_shapes.h"

namespace Vexa {
namespace {

enum class Family : std::uint8_t {
  PositiveFixInt,
  NegativeFixInt,
  FixMap,
  FixArray,
  FixStr,
  Nil,
  False,
  True,
  Bin,
  Float32,
  Float64,
  Uint,
  Int,
  Str,
  Array,
  Map,
  Invalid,
};

constexpr std::array<Family, 256> MakeFamilies() {
  std::array<Family, 256> table{};
  for (int b = 0; b < 256; ++b) {
    Family family = Family::Invalid;
    if (b <= 0x7F) family = Family::PositiveFixInt;
    else if (b <= 0x8F) family = Family::FixMap;
    else if (b <= 0x9F) family = Family::FixArray;
    else if (b <= 0xBF) family = Family::FixStr;
    else if (b == 0xC0) family = Family::Nil;
    else if (b == 0xC2) family = Family::False;
    else if (b == 0xC3) family = Family::True;
    else if (b >= 0xC4 && b <= 0xC6) family = Family::Bin;
    else if (b == 0xCA) family = Family::Float32;
    else if (b == 0xCB) family = Family::Float64;
    else if (b >= 0xCC && b <= 0xCF) family = Family::Uint;
    else if (b >= 0xD0 && b <= 0xD3) family = Family::Int;
    else if (b >= 0xD9 && b <= 0xDB) family = Family::Str;
    else if (b == 0xDC || b == 0xDD) family = Family::Array;
    else if (b == 0xDE || b == 0xDF) family = Family::Map;
    else if (b >= 0xE0) family = Family::NegativeFixInt;
    table[static_cast<std::size_t>(b)] = family;
  }
  return table;
}

constexpr std::array<Family, 256> kFamilies = MakeFamilies();

// Width in bytes of the length, count or number that follows a type byte of
// the sized families (str 8/16/32, uint 8..64 and so on).
constexpr std::size_t WidthOf(std::uint8_t type, std::uint8_t first) { return std::size_t(1) << (type - first); }

class Decoder {
 public:
  Decoder(std::span<const std::uint8_t> bytes, BindingProperty& result) : bytes_(bytes), result_(result) {}

  void Run() {
    if (bytes_.empty()) return;
    ReadValue(result_);
    // Only open containers are left; a truncated one keeps what was read.
    while (result_.IsValid() && !frames_.empty()) {
      Frame& top = frames_.back();
      if (top.next == top.expected) {
        frames_.pop_back();
        continue;
      }
      if (position_ == bytes_.size()) return;
      if (!top.isMap) {
        ReadValue(top.node->At(static_cast<std::uint32_t>(top.next++)));
        continue;
      }
      // A key and its value in one round; a map cut after a key keeps no
      // field for it.
      const std::uint64_t index = top.next / 2;
      std::string_view name;
      if (!ReadKey(name)) return;
      top.next += 2;
      if (position_ == bytes_.size()) return;
      // A repeated key writes into the same field again.
      ReadValue(Field(top, index, name));
    }
  }

  std::size_t Position() const noexcept { return position_; }

 private:
  struct Frame {
    BindingNode* node;
    std::uint64_t expected;  // items: elements, or keys and values
    std::uint64_t next;
    bool isMap;
  };

  bool Fail(std::string message) {
    result_.SetFailure(message);
    return false;
  }

  // Reads a big-endian number of `width` bytes, or fails with the message for
  // that width at the number's position.
  bool ReadNumber(std::size_t width, std::uint64_t& value) {
    if (bytes_.size() - position_ < width) {
      return Fail(Format("Invalid MessagePack data. %1-bit integer value at position %2 is truncated.",
                         static_cast<unsigned>(width * 8), static_cast<std::uint64_t>(position_)));
    }
    value = 0;
    for (std::size_t i = 0; i < width; ++i) value = value << 8 | bytes_[position_ + i];
    position_ += width;
    return true;
  }

  // `length` bytes at the position, or fails with the text or raw message.
  bool ReadBytes(std::uint64_t length, bool text, std::span<const std::uint8_t>& out) {
    if (bytes_.size() - position_ < length) {
      return Fail(Format(text ? "Invalid MessagePack data. String of size %1 at position %2 is truncated."
                              : "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.",
                         length, static_cast<std::uint64_t>(position_)));
    }
    out = bytes_.subspan(position_, static_cast<std::size_t>(length));
    position_ += static_cast<std::size_t>(length);
    return true;
  }

  // The text of a key, inside the input.
  bool ReadKey(std::string_view& name) {
    const std::uint8_t type = bytes_[position_++];
    std::uint64_t length = 0;
    const Family family = kFamilies[type];
    if (family == Family::FixStr) {
      length = type & 0x1F;
    } else if (family == Family::Str) {
      if (!ReadNumber(WidthOf(type, 0xD9), length)) return false;
    } else {
      return Fail(Format("Invalid MessagePack data at position %1. Map keys must be strings.",
                         static_cast<std::uint64_t>(position_)));
    }
    std::span<const std::uint8_t> text;
    if (!ReadBytes(length, true, text)) return false;
    name = std::string_view(reinterpret_cast<const char*>(text.data()), text.size());
    return true;
  }

  void ReadValue(BindingNode& target) {
    const std::uint8_t type = bytes_[position_++];
    std::uint64_t number = 0;
    std::span<const std::uint8_t> data;
    switch (kFamilies[type]) {
      case Family::PositiveFixInt: target.SetSigned(std::int64_t(type)); break;
      case Family::NegativeFixInt: target.SetSigned(std::int64_t(static_cast<std::int8_t>(type))); break;
      case Family::Nil: break;
      case Family::False: target.SetBool(false); break;
      case Family::True: target.SetBool(true); break;
      case Family::Uint:
        if (!ReadNumber(WidthOf(type, 0xCC), number)) return;
        target.SetUnsigned(number);
        break;
      case Family::Int: {
        const std::size_t width = WidthOf(type, 0xD0);
        if (!ReadNumber(width, number)) return;
        // Sign-extend from the value's own width.
        const unsigned unused = static_cast<unsigned>(64 - width * 8);
        target.SetSigned(static_cast<std::int64_t>(number << unused) >> unused);
        break;
      }
      case Family::Float32: {
        if (!ReadNumber(4, number)) return;
        const auto bits = static_cast<std::uint32_t>(number);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        target.SetFloat(value);
        break;
      }
      case Family::Float64: {
        if (!ReadNumber(8, number)) return;
        double value;
        std::memcpy(&value, &number, sizeof value);
        target.SetFloat(value);
        break;
      }
      case Family::FixStr:
      case Family::Str:
        if (type >= 0xD9 && !ReadNumber(WidthOf(type, 0xD9), number)) return;
        if (type < 0xD9) number = type & 0x1F;
        if (!ReadBytes(number, true, data)) return;
        target.SetString(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        break;
      case Family::Bin:
        if (!ReadNumber(WidthOf(type, 0xC4), number)) return;
        if (!ReadBytes(number, false, data)) return;
        target.SetBlob(data);
        break;
      case Family::FixArray:
      case Family::Array:
        if (type >= 0xDC && !ReadNumber(type == 0xDC ? 2 : 4, number)) return;
        if (type < 0xDC) number = type & 0x0F;
        target.MakeCollection();
        Reserve(target, number, 1);
        Open(target, number, false);
        return;
      case Family::FixMap:
      case Family::Map:
        if (type >= 0xDE && !ReadNumber(type == 0xDE ? 2 : 4, number)) return;
        if (type < 0xDE) number = type & 0x0F;
        target.MakeStructure();
        Reserve(target, number, 2);
        Open(target, number * 2, true);
        return;
      case Family::Invalid:
        Fail(Format("Invalid MessagePack data at position %1.", static_cast<std::uint64_t>(position_)));
        return;
    }
  }

  // Every element starts with a byte of its own (a field with two, its key
  // and its value), so a container never holds more items than bytes
  // remain, and the counts of all the containers of a message add up to at
  // most its length. The second bound is one budget for the whole decode:
  // without it, nested headers that each claim the bytes left would reserve
  // those same bytes again at every level, quadratic in the input.
  void Reserve(BindingNode& container, std::uint64_t count, std::size_t bytesPerItem) {
    const std::size_t reserved = static_cast<std::size_t>(
        std::min<std::uint64_t>(count, std::min((bytes_.size() - position_) / bytesPerItem, reserveBudget_)));
    reserveBudget_ -= reserved;
    container.Reserve(reserved);
  }

  void Open(BindingNode& node, std::uint64_t items, bool isMap) { frames_.push_back({&node, items, 0, isMap}); }

  // The field of `name`, the `index`th of the open map. Maps come sized by
  // their counts, so only their names' places are taken from the map before.
  BindingNode& Field(Frame& map, std::uint64_t index, std::string_view name) {
    return shapes_.Field(*map.node, frames_.size() - 1, static_cast<std::size_t>(index), name);
  }

  std::span<const std::uint8_t> bytes_;
  BindingProperty& result_;
  std::size_t position_ = 0;
  std::size_t reserveBudget_ = std::min<std::size_t>(bytes_.size(), BindingNode::kMaxElements);  // elements
  std::vector<Frame> frames_;
  SiblingShapes shapes_;
};

}  // namespace

BindingProperty ParseMessagePack(std::span<const std::uint8_t> bytes, std::size_t* consumed) {
  BindingProperty result;
  Decoder decoder(bytes, result);
  try {
    decoder.Run();
  } catch (const std::length_error&) {
    result.SetFailure("Invalid MessagePack data. The value is too large.");
  } catch (const std::bad_alloc&) {
    result.SetFailure("Invalid MessagePack data. Out of memory.");
  }
  if (consumed) *consumed = decoder.Position();
  return result;
}

bool LooksLikeMessagePack(std::span<const std::uint8_t> bytes) noexcept {
  if (bytes.empty()) return false;
  const std::uint8_t first = bytes[0];
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

}  // namespace Vexa
