// Any bytes as JSON text: a value or a message, and whatever parses writes
// back as JSON that parses again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Vexa::BindingProperty value = Vexa::ParseJson(text);
  if (!value.IsValid()) {
    if (value.FailureMessage().substr(0, 7) != "Error: ") std::abort();
    return 0;
  }
  const std::string compact = Vexa::ToJson(value);
  const Vexa::BindingProperty again = Vexa::ParseJson(compact);
  if (!again.IsValid()) std::abort();
  Vexa::ToJson(value, nullptr, "\r\n");
  return 0;
}
