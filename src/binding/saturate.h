// Doubles outside an integer type's range have no defined conversion in C++.
// Every place that turns a double into a 64-bit integer uses these, so the
// rule is one and the same on every platform: NaN reads as 0, and a value
// beyond the range takes the range's nearest end.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace Vexa {

// The doubles just past the 64-bit ranges: the largest integers are not
// doubles themselves, and these are what they round to.
inline constexpr double kTwoTo63 = 9223372036854775808.0;
inline constexpr double kTwoTo64 = 18446744073709551616.0;

inline std::int64_t SaturateToInt64(double value) noexcept {
  if (std::isnan(value)) return 0;
  if (value >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
  if (value < -kTwoTo63) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

// Negative values wrap as their signed truncation does (-1 reads as the
// largest value), the way a negative integer reads as unsigned.
inline std::uint64_t SaturateToUInt64(double value) noexcept {
  if (std::isnan(value)) return 0;
  if (value >= kTwoTo64) return std::numeric_limits<std::uint64_t>::max();
  if (value >= kTwoTo63) return static_cast<std::uint64_t>(value);
  return static_cast<std::uint64_t>(SaturateToInt64(value));
}

}  // namespace Vexa
