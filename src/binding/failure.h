// The result of every fallible runtime operation: a value, or a `Failure`
// that says what went wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "binding/message_format.h"

namespace Vexa {

class Failure {
 public:
  Failure() = default;
  explicit Failure(std::string message, std::int32_t status = 0)
      : status_(status), message_(std::move(message)) {}
  Failure(std::int32_t status, NamedMessage message)
      : status_(status), message_(std::move(message.text)), values_(std::move(message.values)) {}

  // The message of a named template, keeping each placeholder's value:
  // Failure::Named(404, "Error response for {method} {url}: {error}", ...).
  template <typename... Args>
  static Failure Named(std::int32_t status, std::string_view pattern, const Args&... args) {
    return Failure(status, FormatNamed(pattern, args...));
  }

  // 0 when the failure has no status.
  std::int32_t Status() const noexcept { return status_; }
  const std::string& Message() const noexcept { return message_; }
  const NamedValues& Values() const noexcept { return values_; }

 private:
  std::int32_t status_ = 0;
  std::string message_;
  NamedValues values_;
};

// Either a T or an E. Reading the side that is not held is a programming
// error and throws std::bad_variant_access, so it cannot go unnoticed.
template <typename E, typename T>
class [[nodiscard]] MaybeType {
  static_assert(!std::is_same_v<E, T>, "a value and a failure of one type cannot be told apart");

 public:
  MaybeType(const T& value) : storage_(std::in_place_index<0>, value) {}
  MaybeType(T&& value) : storage_(std::in_place_index<0>, std::move(value)) {}
  MaybeType(const E& failure) : storage_(std::in_place_index<1>, failure) {}
  MaybeType(E&& failure) : storage_(std::in_place_index<1>, std::move(failure)) {}

  bool HasValue() const noexcept { return storage_.index() == 0; }
  bool IsFailure() const noexcept { return storage_.index() == 1; }
  explicit operator bool() const noexcept { return HasValue(); }

  T& Value() & { return std::get<0>(storage_); }
  const T& Value() const& { return std::get<0>(storage_); }
  T&& Value() && { return std::get<0>(std::move(storage_)); }
  template <typename U>
  T ValueOr(U&& fallback) const& {
    return HasValue() ? std::get<0>(storage_) : static_cast<T>(std::forward<U>(fallback));
  }

  E& Error() & { return std::get<1>(storage_); }
  const E& Error() const& { return std::get<1>(storage_); }
  E&& Error() && { return std::get<1>(std::move(storage_)); }

 private:
  std::variant<T, E> storage_;
};

template <typename E>
class [[nodiscard]] MaybeType<E, void> {
 public:
  MaybeType() = default;  // success
  MaybeType(const E& failure) : failure_(failure) {}
  MaybeType(E&& failure) : failure_(std::move(failure)) {}

  bool HasValue() const noexcept { return !failure_.has_value(); }
  bool IsFailure() const noexcept { return failure_.has_value(); }
  explicit operator bool() const noexcept { return HasValue(); }

  E& Error() & { return failure_.value(); }
  const E& Error() const& { return failure_.value(); }
  E&& Error() && { return std::move(failure_).value(); }

 private:
  std::optional<E> failure_;
};

}  // namespace Vexa
