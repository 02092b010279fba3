// The walk over a `BindingNode` tree that writers implement as a handler, so
// one traversal serves every output form.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "binding/property.h"

namespace Vexa {

// Receives a tree as a flat sequence of events. Texts and bytes handed over
// are valid only for the duration of the call.
class BindingVisitor {
 public:
  virtual void VisitNull() = 0;
  virtual void VisitBool(bool value) = 0;
  virtual void VisitInt64(std::int64_t value) = 0;
  virtual void VisitUint64(std::uint64_t value) = 0;
  virtual void VisitDouble(double value) = 0;
  virtual void VisitString(std::string_view text) = 0;
  virtual void VisitBlob(std::span<const std::uint8_t> bytes) = 0;
  virtual void VisitEnum(EnumValue value) = 0;
  virtual void StartArray(std::uint32_t count) = 0;
  virtual void BeginElement(std::uint32_t index) = 0;
  virtual void EndElement(std::uint32_t index) = 0;
  virtual void EndArray() = 0;
  virtual void StartObject(std::uint32_t count) = 0;
  virtual void Key(std::string_view name) = 0;
  virtual void EndMember() = 0;
  virtual void EndObject() = 0;
  virtual ~BindingVisitor();
};

// Calls `visitor` for `node` and everything below it: elements in order,
// fields in name order. The walk keeps its position on the heap, so a tree of
// any depth is safe with a small stack.
void VisitTree(const BindingNode& node, BindingVisitor& visitor);

}  // namespace Vexa
