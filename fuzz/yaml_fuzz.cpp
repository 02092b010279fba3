// Any bytes as YAML: a value or a message, within bounded time and memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/json.h"
#include "formats/yaml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Vexa::BindingProperty value = Vexa::ParseYaml(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value.IsValid()) {
    if (value.FailureMessage().empty()) std::abort();
    return 0;
  }
  Vexa::ToJson(value);
  return 0;
}
