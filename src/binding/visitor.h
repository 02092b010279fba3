// The walk over a `BindingNode` tree that writers implement as a handler, so
// one traversal serves every output form.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

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

// An open container and how far the walk has come through it.
struct BindingWalkPosition {
  const BindingNode* node;
  std::uint32_t index = 0;  // Collection: the element being or about to be visited
  BindingFieldIterator<const BindingNode> field{};  // Structure: likewise
  bool insideChild = false;  // the child at the position has been entered
};

// The same walk for a visitor whose type is known here: a final visitor's
// calls are then direct, which the writers of large texts rely on.
template <typename Visitor>
void WalkTree(const BindingNode& root, Visitor& visitor) {
  std::vector<BindingWalkPosition> open;
  const BindingNode* next = &root;
  for (;;) {
    if (next != nullptr) {
      const BindingNode& node = *next;
      next = nullptr;
      switch (node.GetKind()) {
        case BindingKind::Empty: visitor.VisitNull(); break;
        case BindingKind::Bool: visitor.VisitBool(node.GetBool()); break;
        case BindingKind::Signed: visitor.VisitInt64(node.GetSigned()); break;
        case BindingKind::Unsigned: visitor.VisitUint64(node.GetUnsigned()); break;
        case BindingKind::Float: visitor.VisitDouble(node.GetFloat()); break;
        case BindingKind::String: visitor.VisitString(node.GetString()); break;
        case BindingKind::Blob: visitor.VisitBlob(node.GetBlob()); break;
        case BindingKind::Enum: visitor.VisitEnum(node.GetEnum()); break;
        case BindingKind::Collection:
          visitor.StartArray(node.Size());
          open.push_back({&node});
          break;
        case BindingKind::Structure:
          visitor.StartObject(node.Size());
          open.push_back({&node, 0, node.Fields().begin()});
          break;
      }
    }
    if (open.empty()) return;

    BindingWalkPosition& top = open.back();
    if (top.node->GetKind() == BindingKind::Collection) {
      if (top.insideChild) {
        visitor.EndElement(top.index);
        ++top.index;
        top.insideChild = false;
      }
      const std::span<const BindingNode> elements = top.node->Elements();
      if (top.index < elements.size()) {
        visitor.BeginElement(top.index);
        top.insideChild = true;
        next = &elements[top.index];
      } else {
        visitor.EndArray();
        open.pop_back();
      }
    } else {
      if (top.insideChild) {
        visitor.EndMember();
        ++top.field;
        top.insideChild = false;
      }
      if (top.field != top.node->Fields().end()) {
        const BindingField<const BindingNode> field = *top.field;
        visitor.Key(field.name);
        top.insideChild = true;
        next = &field.value;
      } else {
        visitor.EndObject();
        open.pop_back();
      }
    }
  }
}


}  // namespace Vexa
