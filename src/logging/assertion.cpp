#include "logging/assertion.h"

#include <cstdio>

#include "logging/logger.h"

namespace Vexa::Logging {
namespace {

bool Present(const char* text) { return text != nullptr && text[0] != '\0'; }

class TextWriter {
 public:
  TextWriter(char* out, size_t size) : out_(out), size_(size) {
    if (size_ != 0) out_[0] = '\0';
  }
  void Put(const char* text) {
    for (; *text != '\0' && length_ + 1 < size_; ++text) out_[length_++] = *text;
    if (size_ != 0) out_[length_] = '\0';
  }
  size_t Length() const { return length_; }

 private:
  char* out_;
  size_t size_;
  size_t length_ = 0;
};

}  // namespace

size_t FormatAssertion(char* out, size_t size, const char* expression, const char* description, const char* file,
                       int32_t line, const char* function) {
  if (out == nullptr) return 0;
  TextWriter text(out, size);
  text.Put("Assertion failed!\n\n");
  if (Present(file)) {
    text.Put("File: ");
    text.Put(file);
    text.Put("\n");
  }
  if (line != 0) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", int(line));
    text.Put("Line: ");
    text.Put(number);
    text.Put("\n\n");
  }
  if (Present(function)) {
    text.Put("Function: ");
    text.Put(function);
    text.Put("\n\n");
  }
  if (Present(expression)) {
    text.Put("Expression: ");
    text.Put(expression);
  }
  if (Present(description)) {
    text.Put("\n\n");
    text.Put("Description: ");
    text.Put(description);
  }
  return text.Length();
}

void ReportAssertion(const char* expression, const char* description, const char* file, int32_t line,
                     const char* function) {
  char report[kLineBufferSize];
  FormatAssertion(report, sizeof report, expression, description, file, line, function);
  Log(kError, kGroupDbg, "%s", report);
}

}  // namespace Vexa::Logging
