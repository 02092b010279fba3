#include "binding/visitor.h"

namespace Vexa {

BindingVisitor::~BindingVisitor() = default;

void VisitTree(const BindingNode& root, BindingVisitor& visitor) { WalkTree(root, visitor); }

}  // namespace Vexa
