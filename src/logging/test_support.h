// Shared by the logging tests: a target that keeps what it is given, and a
// fixture with a fresh logger over a fake environment.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "logging/log_target.h"
#include "logging/logger.h"
#include "os/fake_env.h"

namespace Vexa::Logging {

class RecordingTarget : public LogTarget {
 public:
  explicit RecordingTarget(std::string name = "RecordingTarget", std::vector<std::string>* detaches = nullptr)
      : name_(std::move(name)), detaches_(detaches) {
    SetLevel(kOkay);
  }
  ~RecordingTarget() override { LogTarget::Detach(); }

  const char* GetName() const override { return name_.c_str(); }
  bool Write(const LogRecord& record) override {
    char line[kLineBufferSize];
    FormatLine(record, line, sizeof line);
    lines.emplace_back(line);
    messages.emplace_back(record.message);
    return true;
  }
  void Detach() override {
    if (detaches_ != nullptr && IsAttached()) detaches_->push_back(name_);
    LogTarget::Detach();
  }

  std::vector<std::string> lines;
  std::vector<std::string> messages;

 private:
  std::string name_;
  std::vector<std::string>* detaches_;
};

// A fresh logger (Initialize at count 0) with the built-in targets detached,
// so tests see only the targets they attach.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(logger->Initialize(logger));
    logger->DetachTarget(logger, logger->StdErrTarget(logger));
    logger->DetachTarget(logger, logger->DebuggerTarget(logger));
  }
  void TearDown() override { logger->Shutdown(logger); }

  Os::FakeEnv env;
  Os::ScopedEnv scopedEnv{&env};
  const LoggerApi* logger = Logger();
};

}  // namespace Vexa::Logging
