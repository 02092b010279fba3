// Assertion reports: a failed check becomes one multi-line ERROR entry in
// the log. Reporting never stops the program; the caller decides what follows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vexa::Logging {

// Writes the report text into `out` (cut to fit) and returns its length.
// Null or empty texts and a zero line are left out.
size_t FormatAssertion(char* out, size_t size, const char* expression, const char* description, const char* file,
                       int32_t line, const char* function);

// Logs the report with level kError and group DBG.
void ReportAssertion(const char* expression, const char* description, const char* file, int32_t line,
                     const char* function);

}  // namespace Vexa::Logging
