// Any bytes as MessagePack: a value or a positioned message, and a value
// always writes as JSON that parses again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/json.h"
#include "formats/msgpack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t consumed = 0;
  const Vexa::BindingProperty value = Vexa::ParseMessagePack(std::span<const std::uint8_t>(data, size), &consumed);
  if (consumed > size) std::abort();
  if (!value.IsValid()) {
    if (value.FailureMessage().substr(0, 24) != "Invalid MessagePack data") std::abort();
    return 0;
  }
  // Texts may hold any bytes; only the writer's own output must parse.
  Vexa::ToJson(value);
  return 0;
}
