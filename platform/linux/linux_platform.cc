// The Linux backend's object: its construction, the clock, sleeping and
// its own identity. The rest of it stands in linux_win32_imitation.cc,
// linux_processes.cc and linux_commands.cc.
#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/own_process.h"
#include "platform/linux/proc_parse.h"

namespace zw {
namespace {

constexpr std::size_t kStatusLimit = 64 * 1024;
// Blocks up to this size come from the heap (the C library's upper limit).
constexpr int kHeapBlockLimit = 32 << 20;
// Signalling other users' processes takes CAP_KILL, which root holds unless
// it was dropped; root is assumed to hold it when that cannot be read.
bool HoldsCapKill() {
  std::string status;
  if (posix::ReadFileAt(AT_FDCWD, "/proc/self/status", kStatusLimit, &status) == 0) {
    if (const std::optional<bool> capKill = posix::EffectiveCapKill(status)) return *capKill;
  }
  return ::geteuid() == 0;
}

}  // namespace

std::unique_ptr<Platform> MakeNativePlatform() { return std::make_unique<LinuxPlatform>(); }

LinuxPlatform::LinuxPlatform()
    : privileged_(HoldsCapKill()), bootWallNs_(posix::BootWallClockNs()) {
  // A check allocates and frees blocks of a few hundred KiB (the process
  // list, its copy, the table). Kept on the heap rather than mapped afresh
  // and returned each time, freed memory serves the next block instead of
  // being faulted in page by page again.
  ::mallopt(M_MMAP_THRESHOLD, kHeapBlockLimit);
  ::mallopt(M_TRIM_THRESHOLD, kHeapBlockLimit);
  const long ticks = ::sysconf(_SC_CLK_TCK);
  if (ticks > 0) ticksPerSecond_ = static_cast<std::uint64_t>(ticks);
}

// Children still running are left alone; once this process is gone they
// belong to whoever reaps orphans.
LinuxPlatform::~LinuxPlatform() { ReapCommands(); }

void LinuxPlatform::Sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    ::sched_yield();
  } else {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1'000'000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
  ReapCommands();
}

std::uint32_t LinuxPlatform::GetCurrentProcessId() {
  return static_cast<std::uint32_t>(::getpid());
}

std::int64_t LinuxPlatform::time() { return ::time(nullptr); }

}  // namespace zw
