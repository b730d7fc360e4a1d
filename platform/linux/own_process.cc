// Signals and clocks of the watchdog's own process.
#include "platform/linux/own_process.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <limits>

#include "platform/linux/proc_files.h"
#include "platform/platform.h"

namespace zw {
namespace {

// Only async-signal-safe work: the output is flushed line by line, so
// nothing is lost, and the commands started run on as orphans.
extern "C" void EndOnSignal(int signal) { ::_exit(128 + signal); }

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Enough for one pair to fall between two preemptions on a busy machine.
constexpr int kClockPairs = 8;

}  // namespace

void EndOnTerminationSignals() {
  struct sigaction action {};
  action.sa_handler = EndOnSignal;
  ::sigemptyset(&action.sa_mask);
  for (const int signal : kTerminationSignals) ::sigaction(signal, &action, nullptr);
}

void SurviveClosedOutputs() {
  // Ignored, not handled: the started commands get the default back at
  // exec only for handled signals, so the child restores it itself.
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGPIPE, &action, nullptr);
}

namespace posix {

void BlockTerminationSignals(bool block) {
  sigset_t signals;
  ::sigemptyset(&signals);
  for (const int signal : kTerminationSignals) ::sigaddset(&signals, signal);
  ::pthread_sigmask(block ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

std::int64_t BootWallClockNs() {
  std::int64_t best = std::numeric_limits<std::int64_t>::max();
  std::int64_t offset = 0;
  for (int i = 0; i < kClockPairs; ++i) {
    const std::int64_t before = ClockNs(CLOCK_BOOTTIME);
    const std::int64_t wall = ClockNs(CLOCK_REALTIME);
    const std::int64_t after = ClockNs(CLOCK_BOOTTIME);
    if (after - before >= best) continue;
    best = after - before;
    offset = wall - (before + (after - before) / 2);
  }
  return offset;
}

}  // namespace posix
}  // namespace zw
