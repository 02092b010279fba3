// What a reader remembers of the last object and list it closed at each
// depth. Values side by side are mostly records of one shape: the next one
// is sized at once, and its names find their places without a search.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/property.h"

namespace Vexa {

class SiblingShapes {
 public:
  // Sizes a Structure or Collection just made at `depth` as the last one.
  void Opened(BindingNode& container, std::size_t depth) {
    if (depth >= kDepth) return;
    const Shape& shape = shapes_[depth];
    container.Reserve(container.GetKind() == BindingKind::Structure ? shape.fields : shape.elements);
  }

  // The field named `name`, the `key`th name read in the Structure open at
  // `depth`.
  BindingNode& Field(BindingNode& structure, std::size_t depth, std::size_t key, std::string_view name) {
    if (depth >= kDepth || key >= kNames) return structure.Field(name);
    std::vector<BindingFieldHint>& names = shapes_[depth].names;
    if (key >= names.size()) {
      // Room for a record of the usual width at once.
      if (names.empty()) names.reserve(32);
      names.resize(key + 1);
    }
    return structure.Field(name, names[key]);
  }

  // Remembers a Structure or Collection complete at `depth`.
  void Closed(const BindingNode& container, std::size_t depth) {
    if (depth >= kDepth) return;
    Shape& shape = shapes_[depth];
    // A long list is no guide to the next one, and must not become a large
    // reservation for an empty one.
    if (container.GetKind() == BindingKind::Structure) shape.fields = container.Size();
    else shape.elements = std::min(container.Size(), kElementHint);
  }

 private:
  // Records nest far less deep and are far narrower; deeper values and
  // later names are built without, so a wide object costs no memory here.
  static constexpr std::size_t kDepth = 32;
  static constexpr std::size_t kNames = 256;
  static constexpr std::uint32_t kElementHint = 64;

  struct Shape {
    std::uint32_t fields = 0;
    std::uint32_t elements = 0;
    std::vector<BindingFieldHint> names;  // by position in the input
  };
  std::array<Shape, kDepth> shapes_;
};

}  // namespace Vexa
