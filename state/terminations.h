// The kill commands a run has started, followed to their end, and the
// processes they could not end. A process is terminated once per run: while
// its command runs it is waited for, and once the command has ended the next
// snapshot tells whether it worked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/kill_protocol/target_identity.h"
#include "platform/platform.h"

namespace zw {

struct Termination {
  /// The process being ended, as the snapshot saw it.
  TargetIdentity target;
  /// Its name, for the line that says it was not ended.
  std::string name;
  /// The watch entry it was ended for, which its result counts under.
  std::string entry;
  /// The kill command's process; kNull once the command has ended.
  Handle command = Handle::kNull;
  std::uint32_t commandPid = 0;
  /// time() when the command was started: a command that never ends must
  /// not hold the run forever.
  std::int64_t startedAt = 0;
};

struct Terminations {
  /// Commands running, or ended and not judged yet.
  std::vector<Termination> pending;
  /// Processes a command could not end (or none could be started for):
  /// passed over for the rest of the run.
  std::vector<TargetIdentity> failed;
  /// Whether the run has said of any process that it was not ended.
  bool anyNotEnded = false;
};

}  // namespace zw
