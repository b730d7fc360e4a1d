// Times one pass of the watchdog over every process of this machine on the
// Linux backend: building the performance-data block (with the caller's
// grow-and-retry loop), and opening each listed process to read its times.
//
//   snapshot_bench [extra-processes [rounds]]
//
// The extra processes are idle children started here and killed and reaped
// before the program ends.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "tests/linux/perf_block_reader.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kGrowStep = 40960;

std::vector<pid_t> StartIdleChildren(int count) {
  std::vector<pid_t> children;
  const pid_t parent = ::getpid();
  for (int i = 0; i < count; ++i) {
    const pid_t pid = ::fork();
    if (pid < 0) {
      std::perror("fork");
      break;
    }
    if (pid == 0) {
      // Dies with the benchmark, however that ends.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(0);
      for (;;) ::pause();
    }
    children.push_back(pid);
  }
  return children;
}

void StopChildren(const std::vector<pid_t>& children) {
  for (pid_t pid : children) ::kill(pid, SIGKILL);
  for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
}

std::vector<std::uint8_t> QueryBlock(zw::Platform& platform) {
  std::vector<std::uint8_t> buffer(kGrowStep);
  for (;;) {
    auto size = static_cast<std::uint32_t>(buffer.size());
    const std::int32_t result =
        platform.RegQueryValueExA(zw::RegistryKey::kPerformanceData, "230", buffer.data(), &size);
    if (result == zw::kErrorSuccess) {
      buffer.resize(size);
      break;
    }
    if (result != zw::kErrorMoreData) return {};
    buffer.resize(buffer.size() + kGrowStep);
  }
  platform.RegCloseKey(zw::RegistryKey::kPerformanceData);
  return buffer;
}

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  double best = 0;
  double median = 0;
};

Figures Summarize(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples.front(), samples[samples.size() / 2]};
}

// Opens every pid and reads its times; returns how many succeeded.
std::size_t OpenAll(zw::Platform& platform, const std::vector<std::uint32_t>& pids) {
  std::size_t opened = 0;
  for (std::uint32_t pid : pids) {
    const zw::Handle handle = platform.OpenProcess(zw::kProcessQueryInformation, false, pid);
    if (handle == zw::Handle::kNull) continue;
    zw::FileTime creation = 0, exit = 0, kernel = 0, user = 0;
    if (platform.GetProcessTimes(handle, &creation, &exit, &kernel, &user)) ++opened;
    platform.CloseHandle(handle);
  }
  return opened;
}

int Run(zw::Platform& platform, int rounds, std::size_t extra) {
  std::vector<double> snapshotMs, openMs;
  std::vector<std::uint8_t> block;
  std::vector<std::uint32_t> pids;
  std::size_t opened = 0;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    block = QueryBlock(platform);
    snapshotMs.push_back(Milliseconds(Clock::now() - start));
    const auto instances = zw::testing::ReadPerfInstances(block);
    if (!instances) {
      std::fprintf(stderr, "the performance data block does not parse\n");
      return 1;
    }
    pids.clear();
    for (const auto& instance : *instances) {
      if (instance.pid != 0) pids.push_back(instance.pid);
    }
    const auto openStart = Clock::now();
    opened = OpenAll(platform, pids);
    openMs.push_back(Milliseconds(Clock::now() - openStart));
  }
  const Figures snapshot = Summarize(snapshotMs);
  const Figures opening = Summarize(openMs);
  std::printf("processes listed     %zu (%zu started here), block %zu bytes\n", pids.size(), extra,
              block.size());
  std::printf("build block          median %8.3f ms  best %8.3f ms\n", snapshot.median,
              snapshot.best);
  std::printf("open + times, all    median %8.3f ms  best %8.3f ms  (%zu opened)\n", opening.median,
              opening.best, opened);
  std::printf("open + times, each   median %8.3f us\n",
              pids.empty() ? 0.0 : opening.median * 1000.0 / static_cast<double>(pids.size()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int extra = argc > 1 ? std::atoi(argv[1]) : 0;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  if (extra < 0) {
    std::fprintf(stderr, "usage: %s [extra-processes [rounds]]\n", argv[0]);
    return 2;
  }
  const std::vector<pid_t> children = StartIdleChildren(extra);
  int result = 0;
  {
    const auto platform = zw::MakeNativePlatform();
    result = Run(*platform, rounds, children.size());
  }
  StopChildren(children);
  return result;
}
