// Opening processes and reading their times and marks: from what the latest
// snapshot read, else from /proc.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>

#include "platform/linux/linux_platform.h"
#include "platform/linux/proc_parse.h"

namespace zw {
namespace {

// The largest pid a process can have; the reserved 0xFFFFFFFE, which the
// logic gives the pseudo processes, lies beyond it and never opens.
constexpr std::uint32_t kMaxPid = std::numeric_limits<pid_t>::max();
// Whether this process may signal `pid`, as kill(2) decides it: 0, or the
// errno (EPERM: another user's process; ESRCH: gone).
int SignalRight(std::uint32_t pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 ? 0 : errno; }

}  // namespace

Handle LinuxPlatform::OpenProcess(std::uint32_t, bool, std::uint32_t processId) {
  // Beyond the largest pid_t, kill(2) would take it for a process group.
  if (processId == 0 || processId > kMaxPid) {
    Fail(kErrorInvalidParameter);
    return Handle::kNull;
  }
  int error = privileged_ ? 0 : SignalRight(processId);
  ProcessIdentity identity;
  if (error == 0) {
    const std::optional<ProcessIdentity> listed = FromSnapshot(processId);
    error = listed ? 0 : Identify(processId, false, &identity);
    if (listed) identity = *listed;
  }
  // ESRCH and EINVAL become "invalid parameter", as the platform says for
  // any pid that names no running process.
  if (error != 0) {
    Fail(posix::ErrnoToWin32(error));
    return Handle::kNull;
  }
  return AddHandle({HandleKind::kProcess, identity});
}

std::optional<LinuxPlatform::ProcessIdentity> LinuxPlatform::FromSnapshot(std::uint32_t pid) const {
  const auto found = std::lower_bound(
      facts_.begin(), facts_.end(), pid,
      [](const posix::ProcFacts& facts, std::uint32_t wanted) { return facts.pid < wanted; });
  if (found == facts_.end() || found->pid != pid) return std::nullopt;
  return IdentityOf(*found);
}

// The creation time is placed on the wall clock through the one boot time of
// the run, so that every read of a process gives it the same creation time
// to the 100 ns, and the rounding of the whole-second btime never enters it.
std::optional<LinuxPlatform::ProcessIdentity> LinuxPlatform::IdentityOf(
    const posix::ProcFacts& facts) const {
  const std::optional<FileTime> creation =
      posix::StartTicksToFileTime(facts.startTicks, ticksPerSecond_, bootWallNs_, 0);
  if (!creation) return std::nullopt;
  return ProcessIdentity{facts.pid,
                         facts.startTicks,
                         *creation,
                         posix::TicksTo100ns(facts.kernelTicks, ticksPerSecond_),
                         posix::TicksTo100ns(facts.userTicks, ticksPerSecond_),
                         facts.pid == 1 || posix::IsKernelThread(facts.flags)};
}

int LinuxPlatform::Identify(std::uint32_t pid, bool allowEnded, ProcessIdentity* identity) {
  posix::ProcStat stat;
  // No entry in /proc is no such process.
  if (const int error = reader_.ReadStat(pid, &stat); error != 0) {
    return error == ENOENT ? ESRCH : error;
  }
  if (stat.pid != pid || (!allowEnded && !posix::IsRunningState(stat.state, stat.threads))) {
    return ESRCH;
  }
  const std::optional<ProcessIdentity> read =
      IdentityOf({pid, stat.startTicks, stat.userTicks, stat.kernelTicks, stat.flags});
  if (!read) return EINVAL;
  *identity = *read;
  return 0;
}

bool LinuxPlatform::GetProcessTimes(Handle process, FileTime* creation, FileTime* exit,
                                    FileTime* kernel, FileTime* user) {
  if (!creation || !exit || !kernel || !user) {
    return Fail(kErrorInvalidParameter);
  }
  ProcessIdentity current;
  ProcessIdentity* identity = &current;
  if (process == kCurrentProcess) {
    const int error = Identify(static_cast<std::uint32_t>(::getpid()), false, &current);
    if (error != 0) return Fail(posix::ErrnoToWin32(error));
  } else {
    HandleEntry* entry = FindHandle(process);
    if (entry == nullptr || entry->kind != HandleKind::kProcess) {
      return Fail(kErrorInvalidHandle);
    }
    // The CPU times are those read when the process was listed or opened:
    // nothing here uses them, so they are not worth another read.
    identity = &entry->process;
  }
  *creation = identity->creation;
  *exit = 0;
  *kernel = identity->kernel;
  *user = identity->user;
  return true;
}

bool LinuxPlatform::GetProcessStartMark(Handle process, std::uint64_t* mark) {
  if (mark == nullptr) return Fail(kErrorInvalidParameter);
  if (process == kCurrentProcess) {
    ProcessIdentity self;
    const int error = Identify(static_cast<std::uint32_t>(::getpid()), false, &self);
    if (error != 0) return Fail(posix::ErrnoToWin32(error));
    *mark = self.startTicks;
    return true;
  }
  const HandleEntry* entry = FindHandle(process);
  if (entry == nullptr || entry->kind != HandleKind::kProcess) return Fail(kErrorInvalidHandle);
  *mark = entry->process.startTicks;
  return true;
}

bool LinuxPlatform::MustNeverEnd(Handle process, bool* never) {
  const HandleEntry* entry = FindHandle(process);
  if (never == nullptr || entry == nullptr || entry->kind != HandleKind::kProcess) {
    return Fail(kErrorInvalidHandle);
  }
  *never = entry->process.critical;
  return true;
}

}  // namespace zw
