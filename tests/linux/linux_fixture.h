// What the Linux backend tests share: a temporary directory, children they
// start themselves and a fixture around the native platform.
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

namespace zw::testing {

namespace fs = std::filesystem;

constexpr std::uint32_t kGrowStep = 40960;
constexpr auto kPatience = std::chrono::seconds(10);

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zwtest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A child this test started, killed and reaped at the end unless a test
// reaped it already.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(report[1]);
    // The pipe closes at the exec: from then on the child runs `program`.
    char ignored = 0;
    while (::read(report[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }
  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
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
    const fs::path path = dir_.path() / name;
    fs::copy_file("/bin/sleep", path);
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
