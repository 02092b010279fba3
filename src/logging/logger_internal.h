// What the logger shares with the targets in this folder only.
#pragma once

#include "logging/logger.h"
#include "os/lock.h"

namespace Vexa::Logging::Internal {

// The logger lock. It outlives every logger object (it is never destroyed),
// so a target may detach at any time, even during static destruction.
Os::Lock& LoggerLock();

// Both expect LoggerLock() to be held.
// Appends `target`, creating the logger on demand; false when there is no
// logger and none could be created, or the list could not grow.
bool AppendTarget(const LogTargetApi* target);
// Removes every occurrence of `target`; nothing when there is no logger.
void RemoveTarget(const LogTargetApi* target);

}  // namespace Vexa::Logging::Internal
