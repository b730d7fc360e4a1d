// kill.exe for Windows: `kill <pid>` terminates exactly that one process, at
// once. The grace period of the shared command line (`-t SECONDS`) is
// accepted and has no effect: TerminateProcess gives the process no chance to
// end itself. Exit code 0 when it was terminated; 2 when the command line is
// refused and 1 when the process cannot be opened or terminated, each with
// one line on standard error.
#include <windows.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "tools/kill/kill_args.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// Seen by whoever waits for the terminated process.
constexpr UINT kTerminatedExitCode = 1;

// A hint for the codes that users actually meet; the number is always given.
const char* Describe(DWORD error) {
  switch (error) {
    case ERROR_INVALID_PARAMETER:
      return "no such process";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    default:
      return "system error";
  }
}

int Fail(const char* what, std::uint32_t pid, DWORD error) {
  std::fprintf(stderr, "kill: cannot %s process %lu: %s (error %lu)\n", what,
               static_cast<unsigned long>(pid), Describe(error), static_cast<unsigned long>(error));
  return kExitFailed;
}

int Terminate(std::uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (process == nullptr) return Fail("open", pid, GetLastError());
  if (!TerminateProcess(process, kTerminatedExitCode)) {
    const DWORD error = GetLastError();
    CloseHandle(process);
    return Fail("terminate", pid, error);
  }
  CloseHandle(process);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const zw::KillRequest request = zw::ParseKillArguments(arguments);
  if (!request.Ok()) {
    std::fprintf(stderr, "kill: %s\n", request.error.c_str());
    return kExitUsage;
  }
  return Terminate(request.pid);
}
