// The request methods as the core numbers them.
#pragma once

#include <cstdint>

namespace Vexa {

enum class RemotingMethod : std::uint32_t {
  None = 0,
  Delete = 1,
  Get = 2,
  Head = 3,
  Options = 4,
  Patch = 5,
  Post = 6,
  Put = 7,
  Custom = 8,
};

// "DELETE" … "PUT", "" for Custom and anything outside 1 to 7.
constexpr const char* MethodName(RemotingMethod method) noexcept {
  constexpr const char* kNames[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"};
  const auto code = static_cast<std::uint32_t>(method);
  return code < 8 ? kNames[code] : "";
}

// The code sent to the core: outside 1 to 8 it is 0.
constexpr std::uint32_t MethodCode(RemotingMethod method) noexcept {
  const auto code = static_cast<std::uint32_t>(method);
  return code <= 8 ? code : 0;
}

}  // namespace Vexa
