// A value the core handed over: read straight from the core's value while
// that lives, and built into a tree only for a reader that wants the tree,
// once. A message converted from it is the message its tree would give.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "binding/conversion.h"
#include "binding/host_value.h"
#include "binding/property.h"

namespace Vexa {

class DeliveredValue {
 public:
  // Holds a tree.
  explicit DeliveredValue(BindingProperty tree = {}) noexcept : tree_(std::move(tree)) {}
  // Views the core's value, which passed HostValueConvertible and outlives
  // every reading.
  explicit DeliveredValue(HostValueInput value) noexcept : value_(value), direct_(true) {}

  template <typename T>
  T Convert(BindingProperty& result, std::string_view name, const BindingRegistry& registry) const {
    return direct_ ? FromBinding<T>(result, value_, name, registry) : FromBinding<T>(result, tree_, name, registry);
  }

  BindingProperty& Tree() {
    if (direct_) {
      std::string error;  // the value was checked when it came
      HostValueToBinding(value_.Value(), tree_, "<result>", error);
      direct_ = false;
    }
    return tree_;
  }

 private:
  HostValueInput value_;
  BindingProperty tree_;
  bool direct_ = false;
};

}  // namespace Vexa
