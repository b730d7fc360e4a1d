// The exit codes of kill, the same on every platform. Whoever starts kill
// (the watchdog, a script) can tell from them what became of the process.
#pragma once

namespace zw::kill {

enum class KillExit : int {
  kEnded = 0,            // ended, by SIGTERM or after SIGKILL (Windows: terminated and gone)
  kNotEnded = 1,         // could not be ended: still running, not permitted, other failure
  kUsage = 2,            // the command line was refused; nothing was signalled
  kNoSuchProcess = 3,    // no process has that identifier: it was already gone
  kIdentityDiffers = 4,  // the identifier belongs to another process now; nothing was signalled
  kNeverTarget = 5,      // a process that must never be ended; nothing was signalled
};

/// The process's exit code for `exit`.
constexpr int ExitCodeOf(KillExit exit) { return static_cast<int>(exit); }

}  // namespace zw::kill
