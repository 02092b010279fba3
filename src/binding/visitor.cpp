#include "binding/visitor.h"

#include <vector>

namespace Vexa {

BindingVisitor::~BindingVisitor() = default;

namespace {

// An open container and how far the walk has come through it.
struct OpenContainer {
  const BindingNode* node;
  std::uint32_t index = 0;  // Collection: the element being or about to be visited
  BindingFieldIterator<const BindingNode> field{};  // Structure: likewise
  bool insideChild = false;  // the child at the position has been entered
};

}  // namespace

void VisitTree(const BindingNode& root, BindingVisitor& visitor) {
  std::vector<OpenContainer> open;
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

    OpenContainer& top = open.back();
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
