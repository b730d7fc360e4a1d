// The Linux backend against the real system. Every process these tests
// signal is one they started themselves, from a copy of sleep under a name
// no other process has.
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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/platform.h"
#include "tests/linux/perf_block_reader.h"

namespace zw {
namespace {

namespace fs = std::filesystem;
using testing::PerfInstance;
using testing::ReadPerfInstances;

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

FileTime Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<FileTime>(now.tv_sec) + 11'644'473'600) * 10'000'000 +
         static_cast<FileTime>(now.tv_nsec / 100);
}

// State letter of `pid`, 0 when it has no /proc entry any more.
char StateOf(std::uint32_t pid) {
  std::string text;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  if (posix::ReadFileAt(AT_FDCWD, path.c_str(), 4096, &text) != 0) return 0;
  const auto stat = posix::ParseStat(text);
  return stat ? stat->state : 0;
}

template <typename Condition>
bool WaitUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Whether this process may signal other users' processes, as the backend
// decides it.
bool Entitled() {
  std::string status;
  posix::ReadFileAt(AT_FDCWD, "/proc/self/status", 65536, &status);
  return posix::EffectiveCapKill(status).value_or(::geteuid() == 0);
}

std::optional<std::string> FindSetpriv() {
  for (const char* path : {"/usr/bin/setpriv", "/bin/setpriv"}) {
    if (::access(path, X_OK) == 0) return path;
  }
  return std::nullopt;
}

// Runs `args` to the end and returns what it wrote to standard output.
std::string RunCapture(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(out[0], buffer, sizeof buffer)) != 0) {
    if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
    if (got < 0 && errno != EINTR) break;
  }
  ::close(out[0]);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return text;
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

TEST_F(LinuxPlatformTest, SnapshotNamesProgramsInFullBetweenIdleAndTotal) {
  const std::string program = CopySleep("zw-sleeper-with-a-long-name");
  Child child(program, {program, "30"});
  const std::vector<PerfInstance> instances = Snapshot();
  ASSERT_GE(instances.size(), 4u);
  EXPECT_EQ(instances.front().name, u"Idle");
  EXPECT_EQ(instances.front().pid, 0u);
  EXPECT_EQ(instances.back().name, u"_Total");
  EXPECT_EQ(instances.back().pid, 0u);
  for (std::size_t i = 2; i + 1 < instances.size(); ++i) {
    EXPECT_LT(instances[i - 1].pid, instances[i].pid);
  }
  const PerfInstance* sleeper = Find(instances, child.pid());
  ASSERT_NE(sleeper, nullptr);
  const std::string stem = fs::path(program).stem().string();
  EXPECT_EQ(sleeper->name, std::u16string(stem.begin(), stem.end()));
  EXPECT_NE(Find(instances, static_cast<std::uint32_t>(::getpid())), nullptr);
}

TEST_F(LinuxPlatformTest, CommandLinesLongerThanOneReadAreReadOn) {
  // The full name is found only past the first page of the command line.
  const std::string program = CopySleep("zw-sleeper-behind-a-long-path");
  const std::string argv0 =
      "/" + std::string(5000, 'x') + "/" + fs::path(program).filename().string();
  Child child(program, {argv0, "30"});
  const std::vector<PerfInstance> instances = Snapshot();
  const PerfInstance* sleeper = Find(instances, child.pid());
  ASSERT_NE(sleeper, nullptr);
  const std::string stem = fs::path(program).stem().string();
  EXPECT_EQ(sleeper->name, std::u16string(stem.begin(), stem.end()));
}

// Kernel threads have no command line to read, whatever their comm.
TEST_F(LinuxPlatformTest, KernelThreadsAreToldByTheirFlags) {
  std::string text;
  ASSERT_EQ(posix::ReadFileAt(AT_FDCWD, "/proc/self/stat", 4096, &text), 0);
  const auto self = posix::ParseStat(text);
  ASSERT_TRUE(self);
  EXPECT_FALSE(posix::IsKernelThread(self->flags));
  // The kernel's thread starter is pid 2, unless this runs in a pid namespace.
  if (posix::ReadFileAt(AT_FDCWD, "/proc/2/stat", 4096, &text) != 0) return;
  const auto kthreadd = posix::ParseStat(text);
  ASSERT_TRUE(kthreadd);
  if (kthreadd->comm == "kthreadd") {
    EXPECT_TRUE(posix::IsKernelThread(kthreadd->flags));
  }
}

TEST_F(LinuxPlatformTest, EndedButUnreapedProcessesAreNotListedOrOpened) {
  const pid_t zombie = ::fork();
  if (zombie == 0) ::_exit(0);
  const auto pid = static_cast<std::uint32_t>(zombie);
  ASSERT_TRUE(WaitUntil([pid] { return StateOf(pid) == 'Z'; }));
  const std::vector<PerfInstance> instances = Snapshot();
  EXPECT_EQ(Find(instances, pid), nullptr);
  EXPECT_EQ(platform_->OpenProcess(kProcessQueryInformation, false, pid), Handle::kNull);
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
  ASSERT_EQ(::waitpid(zombie, nullptr, 0), zombie);
}

TEST_F(LinuxPlatformTest, OneSnapshotServesEveryRetryUntilTheKeyIsClosed) {
  std::vector<std::uint8_t> small(16);
  std::uint32_t size = 16;
  EXPECT_EQ(platform_->RegQueryValueExA(RegistryKey::kPerformanceData, "230", small.data(), &size),
            kErrorMoreData);
  // The failed round tells the size the block needs.
  const std::uint32_t needed = size;
  const std::vector<std::uint8_t> first = QueryBlock();
  EXPECT_EQ(first.size(), needed);

  const std::string program = CopySleep("zw-late-sleeper-process");
  Child late(program, {program, "30"});
  EXPECT_EQ(QueryBlock(), first);
  EXPECT_EQ(Find(ReadPerfInstances(first).value(), late.pid()), nullptr);
  EXPECT_EQ(platform_->RegCloseKey(RegistryKey::kPerformanceData), 0);
  EXPECT_NE(Find(Snapshot(), late.pid()), nullptr);

  size = static_cast<std::uint32_t>(small.size());
  for (const char* name : {"231", "", "Global", "230 232"}) {
    EXPECT_EQ(platform_->RegQueryValueExA(RegistryKey::kPerformanceData, name, small.data(), &size),
              kErrorFileNotFound)
        << name;
  }
}

TEST_F(LinuxPlatformTest, CreationTimeIsTheMomentOfTheFork) {
  const std::string program = CopySleep("zw-timed-sleeper");
  const FileTime before = Now();
  Child child(program, {program, "30"});
  const FileTime after = Now();
  const Handle handle =
      platform_->OpenProcess(kProcessQueryInformation | kProcessVmRead, false, child.pid());
  ASSERT_NE(handle, Handle::kNull);
  FileTime creation = 0, exit = 1, kernel = 0, user = 0;
  ASSERT_TRUE(platform_->GetProcessTimes(handle, &creation, &exit, &kernel, &user));
  // The start time is kept in clock ticks (10 ms at most) and cut down.
  constexpr FileTime kMargin = 500'000;
  EXPECT_GE(creation + kMargin, before);
  EXPECT_LE(creation, after + kMargin);
  EXPECT_EQ(exit, 0u);

  // Once the process is gone, the handle still describes that process.
  ::kill(static_cast<pid_t>(child.pid()), SIGKILL);
  child.Wait();
  FileTime again = 0;
  ASSERT_TRUE(platform_->GetProcessTimes(handle, &again, &exit, &kernel, &user));
  EXPECT_EQ(again, creation);
  EXPECT_TRUE(platform_->CloseHandle(handle));
  EXPECT_FALSE(platform_->GetProcessTimes(handle, &again, &exit, &kernel, &user));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidHandle));
  EXPECT_FALSE(platform_->CloseHandle(handle));
}

TEST_F(LinuxPlatformTest, PidsThatNameNoProcessNeverOpen) {
  std::string text;
  ASSERT_EQ(posix::ReadFileAt(AT_FDCWD, "/proc/sys/kernel/pid_max", 64, &text), 0);
  const auto beyond = static_cast<std::uint32_t>(std::stoul(text) + 1);
  // Beyond the largest pid_t a pid would read as a process group to kill(2).
  for (std::uint32_t pid : {0u, 0xFFFFFFFEu, 0xFFFFFFFFu, 0x80000000u, beyond}) {
    EXPECT_EQ(platform_->OpenProcess(kProcessQueryInformation, false, pid), Handle::kNull) << pid;
    EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
  }
}

FileTime CreationOf(Platform& platform, std::uint32_t pid) {
  const Handle handle = platform.OpenProcess(kProcessQueryInformation, false, pid);
  FileTime creation = 0, exit = 0, kernel = 0, user = 0;
  EXPECT_NE(handle, Handle::kNull) << pid;
  if (handle == Handle::kNull) return 0;
  EXPECT_TRUE(platform.GetProcessTimes(handle, &creation, &exit, &kernel, &user));
  platform.CloseHandle(handle);
  return creation;
}

// A check reads each process once: the processes of the latest snapshot are
// opened from what it read, the others from /proc.
TEST_F(LinuxPlatformTest, ProcessesOfTheLatestSnapshotOpenFromWhatItRead) {
  const std::string program = CopySleep("zw-listed-sleeper");
  auto listed = std::make_unique<Child>(program, std::vector<std::string>{program, "30"});
  const std::uint32_t pid = listed->pid();
  ASSERT_NE(Find(Snapshot(), pid), nullptr);
  const FileTime fromSnapshot = CreationOf(*platform_, pid);
  const FileTime fromProc = CreationOf(*MakeNativePlatform(), pid);
  // The two differ only by the reading of the clocks: nanoseconds.
  EXPECT_LT(fromSnapshot > fromProc ? fromSnapshot - fromProc : fromProc - fromSnapshot, 10'000u);

  listed.reset();  // killed and reaped
  const Handle gone = platform_->OpenProcess(kProcessQueryInformation, false, pid);
  if (Entitled()) {
    // Nothing asks /proc whether it is still there; the kill command that
    // may follow is the one to find out.
    EXPECT_NE(gone, Handle::kNull);
    platform_->CloseHandle(gone);
  } else {
    // The access test asks the kernel, and the kernel knows it is gone.
    EXPECT_EQ(gone, Handle::kNull);
    EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
  }
  EXPECT_EQ(Find(Snapshot(), pid), nullptr);
  EXPECT_EQ(platform_->OpenProcess(kProcessQueryInformation, false, pid), Handle::kNull);
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));

  Child late(program, {program, "30"});
  EXPECT_GT(CreationOf(*platform_, late.pid()), fromSnapshot);
}

// Without root or CAP_KILL another user's process does not open, as on
// Windows without the debug privilege: it stays unmeasured instead of being
// sent a kill that cannot work. The caller's own processes still open.
TEST_F(LinuxPlatformTest, OrdinaryUserCannotOpenOtherUsersProcesses) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the probe as another user";
  const std::optional<std::string> setpriv = FindSetpriv();
  if (!setpriv) GTEST_SKIP() << "needs setpriv (util-linux) to run the probe as another user";
  const std::string program = CopySleep("zw-root-owned-sleeper");
  Child child(program, {program, "30"});
  // The probe runs as nobody from a directory nobody may enter.
  const fs::path probe = dir_.path() / "zw_open_probe";
  fs::copy_file(ZW_OPEN_PROBE, probe);
  fs::permissions(dir_.path(), fs::perms(0755), fs::perm_options::replace);
  fs::permissions(probe, fs::perms(0755), fs::perm_options::replace);
  const std::string pid = std::to_string(child.pid());
  const std::vector<std::string> items = {pid, "self", "snapshot", pid, "self"};

  std::vector<std::string> asRoot = {probe.string()};
  asRoot.insert(asRoot.end(), items.begin(), items.end());
  EXPECT_EQ(RunCapture(asRoot),
            pid + " opened\nself opened\n" + pid + " opened\nself opened\nprivilege 0\n");

  std::vector<std::string> asNobody = {*setpriv,         "--reuid=65534",   "--regid=65534",
                                       "--clear-groups", "--inh-caps=-all", probe.string()};
  asNobody.insert(asNobody.end(), items.begin(), items.end());
  EXPECT_EQ(RunCapture(asNobody),
            pid + " failed 5\nself opened\n" + pid + " failed 5\nself opened\nprivilege 1300\n");

  // CAP_KILL is what it takes, not root itself.
  std::vector<std::string> withCapKill = asNobody;
  withCapKill[4] = "--inh-caps=+kill";
  withCapKill.insert(withCapKill.begin() + 5, "--ambient-caps=+kill");
  EXPECT_EQ(RunCapture(withCapKill),
            pid + " opened\nself opened\n" + pid + " opened\nself opened\nprivilege 0\n");
}

TEST_F(LinuxPlatformTest, NamesNarrowToUtf8) {
  struct Case {
    std::u16string wide;
    int outSize;
    int written;
    std::string text;
    std::uint32_t error;
  };
  const std::vector<Case> cases = {
      {u"sleep", 16, 6, "sleep", 0},
      {u"sleep", 6, 6, "sleep", 0},
      {u"sleep", 5, 0, "", 122},
      {u"sleep", 0, 6, "", 0},
      {u"m\u00fcller", 16, 8, "m\xc3\xbcller", 0},
      {u"m\u00fcller", 7, 0, "", 122},
      {u"", 4, 1, "", 0},
  };
  for (const Case& c : cases) {
    char out[16] = {};
    const int written = platform_->WideCharToMultiByte(c.wide.c_str(), -1, out, c.outSize);
    EXPECT_EQ(written, c.written) << c.text << " in " << c.outSize;
    if (c.written > 0 && c.outSize > 0) {
      EXPECT_EQ(std::string(out, static_cast<std::size_t>(c.written - 1)), c.text);
    }
    if (c.written == 0) {
      EXPECT_EQ(platform_->GetLastError(), c.error) << c.text;
    }
  }
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

TEST_F(LinuxPlatformTest, WatchListIsFoundInAnyLetterCase) {
  const fs::path asked = dir_.path() / "ZEITWACHE.INI";
  char value[32];
  auto read = [&](const char* key) {
    std::memset(value, 'X', sizeof value);
    return platform_->GetPrivateProfileStringA("PGM", key, "none", value, sizeof value,
                                               asked.c_str());
  };
  EXPECT_EQ(read("PGM001"), 4u);
  EXPECT_STREQ(value, "none");

  WriteFile(dir_.path() / "zeitwache.ini", "[PGM]\nPGM001=lower\n");
  WriteFile(dir_.path() / "ZeitWache.Ini", "[pgm]\npgm001=mixed\nAKT001=60\n");
  EXPECT_EQ(read("PGM001"), 5u);
  EXPECT_STREQ(value, "mixed");
  EXPECT_EQ(read("akt001"), 2u);
  EXPECT_STREQ(value, "60");

  WriteFile(asked, "[PGM]\nPGM001=exact\n");
  EXPECT_EQ(read("PGM001"), 5u);
  EXPECT_STREQ(value, "exact");

  // Larger than any watch list: treated as missing, without being read.
  ASSERT_EQ(::truncate(asked.c_str(), 17 * 1024 * 1024), 0);
  EXPECT_EQ(read("PGM001"), 4u);
  EXPECT_STREQ(value, "none");
  fs::remove(asked);
  fs::create_directory(asked);
  EXPECT_EQ(read("PGM001"), 4u);
  EXPECT_STREQ(value, "none");
}

bool Start(Platform& platform, std::string commandLine, ProcessInformation* info) {
  return platform.CreateProcessA(nullptr, commandLine.data(), false, 0, StartupInfo{}, info);
}

TEST_F(LinuxPlatformTest, StartingAProgramThatCannotRunFails) {
  const fs::path plain = dir_.path() / "not-executable";
  WriteFile(plain, "data");
  struct Case {
    std::string commandLine;
    std::int32_t error;
  };
  const Case cases[] = {
      {"zw-no-such-program-anywhere 1", kErrorFileNotFound},
      {dir_.path().string() + "/missing 1", kErrorFileNotFound},
      {plain.string() + " 1", kErrorAccessDenied},
      {dir_.path().string(), kErrorAccessDenied},
      {"   ", kErrorFileNotFound},
  };
  for (const Case& c : cases) {
    ProcessInformation info;
    EXPECT_FALSE(Start(*platform_, c.commandLine, &info)) << c.commandLine;
    EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(c.error)) << c.commandLine;
  }
}

TEST_F(LinuxPlatformTest, KillCommandEndsTheTargetAndLeavesNoZombie) {
  const std::string program = CopySleep("zw-kill-target-sleeper");
  Child target(program, {program, "30"});
  ProcessInformation info;
  ASSERT_TRUE(Start(*platform_, "kill " + std::to_string(target.pid()), &info));
  EXPECT_GT(info.processId, 0u);
  EXPECT_NE(info.process, Handle::kNull);
  EXPECT_NE(info.thread, Handle::kNull);
  EXPECT_NE(info.process, info.thread);

  const int status = target.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  // The platform reaps the command itself, while the caller sleeps.
  const std::uint32_t command = info.processId;
  EXPECT_TRUE(WaitUntil([&] {
    platform_->Sleep(1);
    return StateOf(command) == 0;
  })) << "the command was not reaped";
  EXPECT_TRUE(platform_->CloseHandle(info.process));
  EXPECT_TRUE(platform_->CloseHandle(info.thread));
}

TEST_F(LinuxPlatformTest, DebugPrivilegeFollowsTheRightToSignalOthers) {
  Handle token = Handle::kNull;
  ASSERT_TRUE(platform_->OpenProcessToken(platform_->GetCurrentProcess(),
                                          kTokenAdjustPrivileges | kTokenQuery, &token));
  Luid luid;
  EXPECT_FALSE(platform_->LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorNoSuchPrivilege));
  ASSERT_TRUE(platform_->LookupPrivilegeValueA(nullptr, "sedebugprivilege", &luid));
  ASSERT_TRUE(platform_->AdjustTokenPrivileges(token, false, luid, kSePrivilegeEnabled));
  EXPECT_EQ(platform_->GetLastError(),
            Entitled() ? 0u : static_cast<std::uint32_t>(kErrorNotAllAssigned));
  EXPECT_TRUE(platform_->CloseHandle(token));
  EXPECT_FALSE(platform_->AdjustTokenPrivileges(token, false, luid, kSePrivilegeEnabled));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidHandle));
}

TEST_F(LinuxPlatformTest, FailuresLeaveTheirReasonBehind) {
  const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
  char out[16];
  EXPECT_EQ(platform_->WideCharToMultiByte(loneSurrogate, -1, out, sizeof out), 0);
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorNoUnicodeTranslation));
  SystemTime calendar;
  EXPECT_FALSE(platform_->FileTimeToSystemTime(FileTime{1} << 63, &calendar));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
  // There is no window system: nothing is enumerated or described.
  EXPECT_TRUE(platform_->EnumWindows([](WindowHandle) {
    ADD_FAILURE() << "a window was reported";
    return true;
  }));
  char title[8] = "stale";
  EXPECT_EQ(platform_->GetWindowTextA(WindowHandle{1}, title, sizeof title), 0);
  EXPECT_STREQ(title, "");
}

}  // namespace
}  // namespace zw
