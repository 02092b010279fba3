#include "runtime/fatal.h"

#include <cstdio>
#include <cstdlib>

#include "logging/assertion.h"

namespace Vexa {

void FatalReport(const char* code) noexcept {
  Logging::ReportAssertion(code, nullptr, nullptr, 0, nullptr);
  std::fflush(nullptr);
  std::_Exit(kFatalExitStatus);
}

}  // namespace Vexa
