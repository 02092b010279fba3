#include "binding/type_identity.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "binding/message_format.h"

namespace Vexa {

namespace {

struct Enlisted {
  std::mutex mutex;
  std::vector<std::pair<const TypeIdentity*, const char*>> identities;  // with the signature
};

// Never destroyed, so identities created during static destruction still
// find it.
Enlisted& Registry() {
  static Enlisted* enlisted = new Enlisted;
  return *enlisted;
}

void Enlist(const TypeIdentity* identity, const char* signature) {
  Enlisted& enlisted = Registry();
  std::lock_guard<std::mutex> lock(enlisted.mutex);
  for (const auto& [other, otherSignature] : enlisted.identities) {
    if (other->Id() == identity->Id()) {
      std::fprintf(stderr, "Type id %08X of %s is already taken by %s; rename one of the types.\n",
                   static_cast<unsigned>(identity->Id()), signature, otherSignature);
      std::abort();
    }
  }
  enlisted.identities.emplace_back(identity, signature);
}

}  // namespace

TypeIdentity::TypeIdentity(std::uint32_t id, const char* signature, bool namedBySignature) noexcept
    : id_(id), hexName_{} {
  FormatFixed(hexName_, sizeof hexName_, "#%08X", static_cast<unsigned>(id));
  name_ = namedBySignature ? signature : hexName_;
  Enlist(this, signature);
}

const TypeIdentity& TypeIdentity::Placeholder() noexcept {
  static const TypeIdentity identity(kPlaceholderId, "the placeholder identity", false);
  return identity;
}

}  // namespace Vexa
