// Fatal runtime checks: an assertion report naming an "ALE-" code, then the
// process ends. The core never sees a result from the failing call.
#pragma once

namespace Vexa {

inline constexpr int kFatalExitStatus = 3;

[[noreturn]] void FatalReport(const char* code) noexcept;

}  // namespace Vexa
