// What the Linux backend tests share: children they start themselves and a
// fixture around the native platform (the scaffolding is in scratch.h).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/platform.h"
#include "tests/linux/perf_block_reader.h"
#include "tests/linux/scratch.h"

namespace zw::testing {

namespace fs = std::filesystem;

constexpr std::uint32_t kGrowStep = 40960;
constexpr auto kPatience = std::chrono::seconds(10);

// A child this test started, killed and reaped at the end unless a test
// reaped it already.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args)
      : pid_(children_.Add(StartProgram(program, args))) {
    if (pid_ < 0) std::abort();
  }

  std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }
  int Wait() { return children_.Reap(pid_, true); }

 private:
  Children children_;
  pid_t pid_;
};

inline FileTime Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<FileTime>(now.tv_sec) + 11'644'473'600) * 10'000'000 +
         static_cast<FileTime>(now.tv_nsec / 100);
}

// State letter of `pid`, 0 when it has no /proc entry any more.
inline char StateOf(std::uint32_t pid) {
  std::string text;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  if (posix::ReadFileAt(AT_FDCWD, path.c_str(), 4096, &text) != 0) return 0;
  const auto stat = posix::ParseStat(text);
  return stat ? stat->state : 0;
}

template <typename Condition>
inline bool WaitUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Whether this process may signal other users' processes, as the backend
// decides it.
inline bool Entitled() {
  std::string status;
  posix::ReadFileAt(AT_FDCWD, "/proc/self/status", 65536, &status);
  return posix::EffectiveCapKill(status).value_or(::geteuid() == 0);
}

class LinuxPlatformTest : public ::testing::Test {
 protected:
  // A copy of sleep under a name longer than the kernel keeps in comm.
  std::string CopySleep(const std::string& stem) {
    static std::atomic<int> serial{0};
    const std::string name =
        stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".bin";
    const fs::path path = CopyProgram("/bin/sleep", dir_.path(), name);
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
    return path.string();
  }

  std::vector<std::uint8_t> QueryBlock() {
    std::vector<std::uint8_t> buffer(kGrowStep);
    for (;;) {
      auto size = static_cast<std::uint32_t>(buffer.size());
      const std::int32_t result =
          platform_->RegQueryValueExA(RegistryKey::kPerformanceData, "230", buffer.data(), &size);
      if (result == kErrorSuccess) {
        buffer.resize(size);
        return buffer;
      }
      EXPECT_EQ(result, kErrorMoreData);
      if (result != kErrorMoreData) return {};
      buffer.resize(buffer.size() + kGrowStep);
    }
  }

  std::vector<PerfInstance> Snapshot() {
    const std::vector<std::uint8_t> block = QueryBlock();
    EXPECT_EQ(platform_->RegCloseKey(RegistryKey::kPerformanceData), 0);
    auto instances = ReadPerfInstances(block);
    EXPECT_TRUE(instances) << "the block does not parse";
    return instances.value_or(std::vector<PerfInstance>{});
  }

  static const PerfInstance* Find(const std::vector<PerfInstance>& instances, std::uint32_t pid) {
    const auto found = std::find_if(instances.begin(), instances.end(),
                                    [pid](const PerfInstance& i) { return i.pid == pid; });
    return found == instances.end() ? nullptr : &*found;
  }

  std::unique_ptr<Platform> platform_ = MakeNativePlatform();
  TempDir dir_;
};

}  // namespace zw::testing
