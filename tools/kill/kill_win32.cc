// kill.exe for Windows: `kill <pid>` terminates exactly that one process, at
// once, and waits (bounded) until it is gone. The grace period of the shared
// command line (`-t SECONDS`) is accepted and has no effect:
// TerminateProcess gives the process no chance to end itself. With
// ZEITWACHE_TARGET set for that pid, only the process created at exactly
// that time is terminated; set but unusable, none. The exit codes are those of kill_exit.h, each
// non-zero one with one line on standard error.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kill_protocol/target_identity.h"
#include "platform/win32_errors.h"
#include "tools/kill/ask_win32.h"
#include "tools/kill/kill_args.h"
#include "tools/kill/kill_exit.h"

namespace {

using zw::kill::ExitCodeOf;
using zw::kill::KillExit;

constexpr char kHelp[] =
    "usage: kill [-t SECONDS] <pid>\n"
    "Ends the one process <pid>: posts WM_CLOSE to its visible windows and sends\n"
    "Ctrl-Break to a console it has to itself, waits up to SECONDS (default 5, at\n"
    "most 3600) for it to end, then terminates it (TerminateProcess). A process\n"
    "with nothing to be asked through, or SECONDS 0, is terminated at once.\n"
    "With ZEITWACHE_TARGET=PID:CREATION set, a process with another creation time\n"
    "is not ended.\n"
    "Exit codes: 0 ended, 1 could not be ended, 2 command line refused,\n"
    "3 no such process, 4 the identifier now names another process,\n"
    "5 a process that must never be ended (Idle, System, a critical process).\n";

// Seen by whoever waits for the terminated process.
constexpr UINT kTerminatedExitCode = 1;
// TerminateProcess only starts the end; the process is gone once its handle
// is signalled, which takes milliseconds unless a driver holds it.
constexpr DWORD kGoneWaitMs = 5000;
// The Idle and System processes.
constexpr DWORD kIdlePid = 0;
constexpr DWORD kSystemPid = 4;

// A hint for the codes that users actually meet; the number is always given.
const char* Describe(DWORD error) {
  switch (error) {
    case zw::kErrorInvalidParameter:
      return "no such process";
    case zw::kErrorAccessDenied:
      return "access denied";
    default:
      return "system error";
  }
}

int Fail(const char* what, std::uint32_t pid, DWORD error) {
  std::fprintf(stderr, "kill: cannot %s process %lu: %s (error %lu)\n", what,
               static_cast<unsigned long>(pid), Describe(error), static_cast<unsigned long>(error));
  return ExitCodeOf(KillExit::kNotEnded);
}

int Refuse(std::uint32_t pid, const char* why) {
  std::fprintf(stderr, "kill: refusing to end process %lu: %s\n", static_cast<unsigned long>(pid),
               why);
  return ExitCodeOf(KillExit::kNeverTarget);
}

// Whether `process` is marked critical: the system stops when it ends.
// IsProcessCritical is looked up, as older systems lack it; there no
// process can be asked, and none is taken for critical.
bool IsCritical(HANDLE process) {
  using IsProcessCriticalFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return false;
  const auto query = reinterpret_cast<IsProcessCriticalFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsProcessCritical")));
  BOOL critical = FALSE;
  return query != nullptr && query(process, &critical) && critical;
}

std::uint64_t CreationOf(HANDLE process, bool* ok) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  *ok = GetProcessTimes(process, &creation, &exit, &kernel, &user) != FALSE;
  return static_cast<std::uint64_t>(creation.dwHighDateTime) << 32 | creation.dwLowDateTime;
}

// Terminates `process` and waits until it is gone.
int Force(HANDLE process, std::uint32_t pid) {
  if (!TerminateProcess(process, kTerminatedExitCode)) {
    const DWORD error = GetLastError();
    // A process that has already ended refuses to be terminated again.
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return ExitCodeOf(KillExit::kEnded);
    return Fail("terminate", pid, error);
  }
  if (WaitForSingleObject(process, kGoneWaitMs) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "kill: process %lu is still there %lu s after it was terminated\n",
                 static_cast<unsigned long>(pid), static_cast<unsigned long>(kGoneWaitMs / 1000));
    return ExitCodeOf(KillExit::kNotEnded);
  }
  return ExitCodeOf(KillExit::kEnded);
}

// Asks `process` to end, gives it up to `graceSeconds`, and terminates it
// when it is still there; says so when it had to. A grace of 0 terminates
// at once, as SIGKILL does on Linux. A process that has nothing to be asked
// through (no visible window, no console of its own) is terminated without
// waiting: nothing would make it end in the meantime.
int End(HANDLE process, std::uint32_t pid, std::uint32_t graceSeconds) {
  if (graceSeconds == 0) return Force(process, pid);
  const zw::kill::Asked asked = zw::kill::AskToEnd(pid);
  if (asked.Any() && WaitForSingleObject(process, graceSeconds * 1000) == WAIT_OBJECT_0) {
    return ExitCodeOf(KillExit::kEnded);
  }
  const int code = Force(process, pid);
  if (code != ExitCodeOf(KillExit::kEnded)) return code;
  if (asked.Any()) {
    std::fprintf(stderr, "kill: process %lu did not end within %lu s of %s; terminated\n",
                 static_cast<unsigned long>(pid), static_cast<unsigned long>(graceSeconds),
                 asked.Describe().c_str());
  } else {
    std::fprintf(stderr,
                 "kill: process %lu has no visible window and no console of its own to be asked "
                 "through; terminated\n",
                 static_cast<unsigned long>(pid));
  }
  return code;
}

// Thread and process identifiers come from one pool, so an identifier that
// opens a thread names no process; it is refused as the Linux kill refuses
// a thread's id.
bool NamesThread(std::uint32_t id) {
  HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  return true;
}

int Terminate(std::uint32_t pid, std::uint32_t graceSeconds,
              std::optional<std::uint64_t> expected) {
  if (pid == kIdlePid || pid == kSystemPid) return Refuse(pid, "a system process");
  if (pid == GetCurrentProcessId()) return Refuse(pid, "kill itself");
  HANDLE process =
      OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    const DWORD error = GetLastError();
    if (error == zw::kErrorInvalidParameter && NamesThread(pid)) {
      std::fprintf(stderr, "kill: refusing to end process %lu: a thread, not a process\n",
                   static_cast<unsigned long>(pid));
      return ExitCodeOf(KillExit::kUsage);
    }
    if (error == zw::kErrorInvalidParameter) {
      std::fprintf(stderr, "kill: cannot end process %lu: no such process\n",
                   static_cast<unsigned long>(pid));
      return ExitCodeOf(KillExit::kNoSuchProcess);
    }
    return Fail("open", pid, error);
  }
  const auto done = [&](int code) {
    CloseHandle(process);
    return code;
  };
  if (IsCritical(process)) return done(Refuse(pid, "a critical system process"));
  if (expected) {
    bool ok = false;
    const std::uint64_t creation = CreationOf(process, &ok);
    if (!ok) return done(Fail("identify", pid, GetLastError()));
    if (creation != *expected) {
      std::fprintf(stderr,
                   "kill: process %lu was created at another time than the one meant; "
                   "not terminated\n",
                   static_cast<unsigned long>(pid));
      return done(ExitCodeOf(KillExit::kIdentityDiffers));
    }
  }
  return done(End(process, pid, graceSeconds));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.size() == 2 && arguments[0] == zw::kill::kConsoleBreakSwitch) {
    const zw::KillRequest target = zw::ParseKillArguments(std::span(arguments).subspan(1));
    return target.Ok() ? zw::kill::RunConsoleBreak(target.pid) : ExitCodeOf(KillExit::kUsage);
  }
  const zw::KillRequest request = zw::ParseKillArguments(arguments);
  if (request.help) {
    std::fputs(kHelp, stdout);
    return ExitCodeOf(KillExit::kEnded);
  }
  // Identifier 0 is the Idle process here, not a malformed identifier.
  if (request.zeroPid) return Refuse(kIdlePid, "the Idle process");
  if (!request.Ok()) {
    std::fprintf(stderr, "kill: %s\n", request.error.c_str());
    return ExitCodeOf(KillExit::kUsage);
  }
  std::optional<std::uint64_t> expected;
  if (!zw::TargetFromEnvironment(request.pid, &expected)) return ExitCodeOf(KillExit::kUsage);
  return Terminate(request.pid, request.graceSeconds, expected);
}
