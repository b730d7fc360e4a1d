#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string_view>

#include "base/ascii.h"
#include "base/file_time.h"
#include "platform/common/perf_data_builder.h"
#include "platform/common/profile_reader.h"
#include "platform/common/utf16.h"
#include "platform/linux/command_line.h"
#include "platform/linux/own_process.h"
#include "platform/linux/profile_file.h"
#include "platform/linux/spawn.h"
#include "platform/linux/trusted_path.h"
#include "platform/perf_layout.h"

namespace zw {
namespace {

// The pseudo handle of the calling process, the same value as on the
// platform the interface comes from; it is never in the handle table.
constexpr auto kCurrentProcess = static_cast<Handle>(~std::uintptr_t{0});
// The largest pid a process can have; the reserved 0xFFFFFFFE, which the
// logic gives the pseudo processes, lies beyond it and never opens.
constexpr std::uint32_t kMaxPid = std::numeric_limits<pid_t>::max();
// The identifier the platform gives to SeDebugPrivilege.
constexpr Luid kDebugPrivilege{20, 0};
constexpr std::string_view kDebugPrivilegeName = "SeDebugPrivilege";
constexpr std::size_t kStatusLimit = 64 * 1024;
// Blocks up to this size come from the heap (the C library's upper limit).
constexpr int kHeapBlockLimit = 32 << 20;

// The error OpenProcess reports: the platform says "invalid parameter" for
// any pid that names no running process.
std::uint32_t OpenError(int error) {
  if (error == ENOENT || error == ESRCH || error == EINVAL) {
    return kErrorInvalidParameter;
  }
  return posix::ErrnoToWin32(error);
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

// A program found by the lookup runs with this process's rights: one that
// someone else could have planted is passed over, with a warning.
bool IsTrustedProgram(const std::string& path) {
  const std::string why = posix::DistrustOf(path, static_cast<std::uint32_t>(::geteuid()));
  if (why.empty()) return true;
  std::fprintf(stderr, "zeitwache: not starting untrusted %s: %s\n", path.c_str(), why.c_str());
  return false;
}

bool IsTrustedQuietly(const std::string& path) {
  return posix::DistrustOf(path, static_cast<std::uint32_t>(::geteuid())).empty();
}

std::string OwnDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return {};
  const std::string_view exe(path, static_cast<std::size_t>(length));
  const std::size_t slash = exe.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(exe.substr(0, slash == 0 ? 1 : slash));
}

// Signalling other users' processes takes CAP_KILL, which root holds unless
// it was dropped; root is assumed to hold it when that cannot be read.
bool HoldsCapKill() {
  std::string status;
  if (posix::ReadFileAt(AT_FDCWD, "/proc/self/status", kStatusLimit, &status) == 0) {
    if (const std::optional<bool> capKill = posix::EffectiveCapKill(status)) return *capKill;
  }
  return ::geteuid() == 0;
}

// Whether this process may signal `pid`, as kill(2) decides it: 0, or the
// errno (EPERM: another user's process; ESRCH: gone).
int SignalRight(std::uint32_t pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 ? 0 : errno; }

std::string SearchPath() {
  if (const char* path = std::getenv("PATH")) return path;
  // No PATH at all: the system's default, as execvp would use.
  char fallback[256];
  const std::size_t length = ::confstr(_CS_PATH, fallback, sizeof fallback);
  return length > 0 && length <= sizeof fallback ? fallback : "/bin:/usr/bin";
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
LinuxPlatform::~LinuxPlatform() {
  ReapCommands();
  for (const auto& [value, entry] : handles_) {
    if (entry.fd >= 0) ::close(entry.fd);
  }
}

void LinuxPlatform::ReapCommands() {
  for (auto& [pid, command] : commands_) {
    if (command.exitCode != kStillActive) continue;
    if (const auto exitCode = posix::ReapIfEnded(pid)) command.exitCode = *exitCode;
  }
  std::erase_if(commands_, [](const auto& entry) {
    return !entry.second.handleOpen && entry.second.exitCode != kStillActive;
  });
}

bool LinuxPlatform::Fail(std::uint32_t error) {
  lastError_ = error;
  return false;
}

std::uint32_t LinuxPlatform::GetLastError() { return lastError_; }

Handle LinuxPlatform::GetCurrentProcess() { return kCurrentProcess; }

bool LinuxPlatform::OpenProcessToken(Handle process, std::uint32_t, Handle* token) {
  if (token == nullptr) return Fail(kErrorInvalidParameter);
  if (process != kCurrentProcess) {
    const HandleEntry* entry = FindHandle(process);
    if (entry == nullptr || entry->kind != HandleKind::kProcess) {
      return Fail(kErrorInvalidHandle);
    }
  }
  *token = AddHandle({HandleKind::kToken, {}});
  return true;
}

bool LinuxPlatform::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
  if (name == nullptr || luid == nullptr) return Fail(kErrorInvalidParameter);
  if (systemName != nullptr && *systemName != '\0') {
    return Fail(kErrorRpcServerUnavailable);
  }
  if (!EqualIgnoringAsciiCase(name, kDebugPrivilegeName)) {
    return Fail(kErrorNoSuchPrivilege);
  }
  *luid = kDebugPrivilege;
  return true;
}

bool LinuxPlatform::AdjustTokenPrivileges(Handle token, bool disableAllPrivileges, const Luid& luid,
                                          std::uint32_t attributes) {
  const HandleEntry* entry = FindHandle(token);
  if (entry == nullptr || entry->kind != HandleKind::kToken) {
    return Fail(kErrorInvalidHandle);
  }
  const bool enabling = !disableAllPrivileges && (attributes & kSePrivilegeEnabled) != 0;
  const bool isDebug =
      luid.lowPart == kDebugPrivilege.lowPart && luid.highPart == kDebugPrivilege.highPart;
  // The call works either way; whether the privilege was given shows in
  // the last error, as the platform reports it.
  // Signalling and inspecting other users' processes is what the debug
  // privilege grants; here that takes CAP_KILL.
  lastError_ = !enabling || (isDebug && privileged_) ? kErrorSuccess : kErrorNotAllAssigned;
  return true;
}

std::int32_t LinuxPlatform::RegQueryValueExA(RegistryKey key, const char* valueName,
                                             std::uint8_t* data, std::uint32_t* size) {
  if (key != RegistryKey::kPerformanceData) return kErrorInvalidHandle;
  if (valueName == nullptr || std::string_view(valueName) != perf::kProcessObjectValueName) {
    return kErrorFileNotFound;
  }
  if (size == nullptr) return kErrorInvalidParameter;
  // One snapshot serves every retry of the caller's grow-and-retry loop,
  // until the key is closed.
  if (!snapshot_) {
    if (const std::int32_t error = BuildSnapshot(); error != 0) return error;
  }
  // Too small a buffer learns the size it needs, as for any other value,
  // so that the caller's next round can be its last.
  if (data == nullptr || snapshot_->size() > *size) {
    *size = static_cast<std::uint32_t>(snapshot_->size());
    return kErrorMoreData;
  }
  std::memcpy(data, snapshot_->data(), snapshot_->size());
  *size = static_cast<std::uint32_t>(snapshot_->size());
  return kErrorSuccess;
}

std::int32_t LinuxPlatform::BuildSnapshot() {
  // Commands started earlier that have ended are reaped first, so they do
  // not linger in the list as zombies.
  ReapCommands();
  PerfDataWriter block;
  const int error = listing_.List(&block, &facts_);
  if (error != 0) return static_cast<std::int32_t>(posix::ErrnoToWin32(error));
  snapshot_ = block.Finish();
  return kErrorSuccess;
}

std::int32_t LinuxPlatform::RegCloseKey(RegistryKey key) {
  if (key != RegistryKey::kPerformanceData) return kErrorInvalidHandle;
  snapshot_.reset();
  return kErrorSuccess;
}

int LinuxPlatform::WideCharToMultiByte(const char16_t* wide, int wideLength, char* out,
                                       int outSize) {
  // Every name of a snapshot comes through here, and nearly all are ASCII:
  // those are narrowed unit by unit, without building a string first.
  if (wide != nullptr && wideLength == -1 && out != nullptr && outSize > 0) {
    int at = 0;
    while (at < outSize && wide[at] != 0 && wide[at] < 0x80) {
      out[at] = static_cast<char>(wide[at]);
      ++at;
    }
    if (at < outSize && wide[at] == 0) {
      out[at] = '\0';
      return at + 1;
    }
  }
  std::uint32_t error = 0;
  const int written = WideCharToUtf8(wide, wideLength, out, outSize, &error);
  if (written == 0) lastError_ = error;
  return written;
}

Handle LinuxPlatform::OpenProcess(std::uint32_t, bool, std::uint32_t processId) {
  // Beyond the largest pid_t, kill(2) would take it for a process group.
  if (processId == 0 || processId > kMaxPid) {
    Fail(kErrorInvalidParameter);
    return Handle::kNull;
  }
  int error = privileged_ ? 0 : SignalRight(processId);
  std::optional<ProcessIdentity> identity;
  if (error == 0) identity = FromSnapshot(processId);
  if (error == 0 && !identity) identity = Identify(processId, &error, false);
  if (!identity) {
    Fail(OpenError(error));
    return Handle::kNull;
  }
  return AddHandle({HandleKind::kProcess, *identity});
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

std::optional<LinuxPlatform::ProcessIdentity> LinuxPlatform::Identify(std::uint32_t pid, int* error,
                                                                      bool allowEnded) {
  posix::ProcStat stat;
  *error = reader_.ReadStat(pid, &stat);
  if (*error != 0) return std::nullopt;
  if (stat.pid != pid || (!allowEnded && !posix::IsRunningState(stat.state, stat.threads))) {
    *error = ESRCH;
    return std::nullopt;
  }
  const auto identity =
      IdentityOf({pid, stat.startTicks, stat.userTicks, stat.kernelTicks, stat.flags});
  if (!identity) *error = EINVAL;
  return identity;
}

bool LinuxPlatform::GetProcessTimes(Handle process, FileTime* creation, FileTime* exit,
                                    FileTime* kernel, FileTime* user) {
  if (!creation || !exit || !kernel || !user) {
    return Fail(kErrorInvalidParameter);
  }
  ProcessIdentity current;
  ProcessIdentity* identity = &current;
  if (process == kCurrentProcess) {
    int error = 0;
    const auto self = Identify(static_cast<std::uint32_t>(::getpid()), &error, false);
    if (!self) return Fail(posix::ErrnoToWin32(error));
    current = *self;
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
    int error = 0;
    const auto self = Identify(static_cast<std::uint32_t>(::getpid()), &error, false);
    if (!self) return Fail(posix::ErrnoToWin32(error));
    *mark = self->startTicks;
    return true;
  }
  const HandleEntry* entry = FindHandle(process);
  if (entry == nullptr || entry->kind != HandleKind::kProcess) return Fail(kErrorInvalidHandle);
  *mark = entry->process.startTicks;
  return true;
}

bool LinuxPlatform::FileTimeToSystemTime(FileTime fileTime, SystemTime* systemTime) {
  if (systemTime == nullptr) return Fail(kErrorInvalidParameter);
  if (!FileTimeToCalendar(fileTime, systemTime)) {
    return Fail(kErrorInvalidParameter);
  }
  return true;
}

Handle LinuxPlatform::AddHandle(const HandleEntry& entry) {
  // Multiples of four, like the platform's own handle values.
  nextHandle_ += 4;
  handles_.emplace(nextHandle_, entry);
  return static_cast<Handle>(nextHandle_);
}

LinuxPlatform::HandleEntry* LinuxPlatform::FindHandle(Handle handle) {
  const auto found = handles_.find(static_cast<std::uintptr_t>(handle));
  return found == handles_.end() ? nullptr : &found->second;
}

bool LinuxPlatform::CloseHandle(Handle handle) {
  if (handle == kCurrentProcess) return true;
  const HandleEntry* entry = FindHandle(handle);
  if (entry == nullptr) return Fail(kErrorInvalidHandle);
  if (entry->fd >= 0) ::close(entry->fd);
  if (const auto command = commands_.find(entry->command); command != commands_.end()) {
    command->second.handleOpen = false;
  }
  handles_.erase(static_cast<std::uintptr_t>(handle));
  ReapCommands();
  return true;
}

bool LinuxPlatform::GetExitCodeProcess(Handle process, std::uint32_t* exitCode) {
  const HandleEntry* entry = FindHandle(process);
  if (exitCode == nullptr || entry == nullptr || entry->kind != HandleKind::kProcess) {
    return Fail(kErrorInvalidHandle);
  }
  // Only a child can be waited for, and so only a child's end is known.
  const auto command = commands_.find(entry->command);
  if (command == commands_.end()) return Fail(kErrorAccessDenied);
  ReapCommands();
  *exitCode = command->second.exitCode;
  return true;
}

// Only a command this process started, still unreaped, so the pid cannot
// have passed to another process.
bool LinuxPlatform::TerminateProcess(Handle process, std::uint32_t) {
  const HandleEntry* entry = FindHandle(process);
  if (entry == nullptr || entry->kind != HandleKind::kProcess) return Fail(kErrorInvalidHandle);
  const auto command = commands_.find(entry->command);
  if (command == commands_.end()) return Fail(kErrorAccessDenied);
  if (command->second.exitCode != kStillActive) return true;
  if (::kill(command->first, SIGKILL) != 0) return Fail(posix::ErrnoToWin32(errno));
  command->second.exitCode = posix::WaitForEnd(command->first);
  return true;
}

void LinuxPlatform::HoldTermination(bool hold) { posix::BlockTerminationSignals(hold); }

bool LinuxPlatform::SetEnvironmentVariableA(const char* name, const char* value) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr) {
    return Fail(kErrorInvalidParameter);
  }
  const int result = value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  return result == 0 || Fail(posix::ErrnoToWin32(errno));
}

bool LinuxPlatform::IsProcessCritical(Handle process, bool* critical) {
  const HandleEntry* entry = FindHandle(process);
  if (critical == nullptr || entry == nullptr || entry->kind != HandleKind::kProcess) {
    return Fail(kErrorInvalidHandle);
  }
  *critical = entry->process.critical;
  return true;
}

bool LinuxPlatform::CreateProcessA(const char* applicationName, char* commandLine, bool,
                                   std::uint32_t, const StartupInfo&,
                                   ProcessInformation* processInformation) {
  ReapCommands();
  if (processInformation == nullptr || (applicationName == nullptr && commandLine == nullptr)) {
    return Fail(kErrorInvalidParameter);
  }
  std::vector<std::string> args =
      posix::SplitCommandLine(commandLine != nullptr ? commandLine : "");
  std::optional<std::string> program;
  if (applicationName != nullptr) {
    // An explicit program is taken as it is, never searched for.
    program = applicationName;
    if (args.empty()) args.emplace_back(applicationName);
  } else if (!args.empty()) {
    program = ResolveCommand(args[0]);
  }
  if (!program) return Fail(kErrorFileNotFound);
  const posix::StartResult started = posix::StartProgram(*program, args);
  if (started.pid < 0) return Fail(posix::ErrnoToWin32(started.error));
  commands_[started.pid] = StartedCommand{};
  RecordStarted(started.pid, processInformation);
  return true;
}

// What CreateProcessA would start, judged as ResolveCommand judges, but
// silently: with the privilege, only the package's own command.
std::string LinuxPlatform::FindCommandProgram(const char* name, bool* own) {
  const std::string ownDirectory = OwnDirectory();
  const std::string searchPath = SearchPath();
  const std::optional<std::string> program =
      posix::ResolveProgram(name != nullptr ? name : "", ownDirectory,
                            privileged_ ? "" : searchPath, IsExecutableFile, IsTrustedQuietly);
  if (!program) return {};
  *own = posix::IsOwnProgram(*program, ownDirectory, searchPath);
  return *program;
}

// With the right to end anyone's processes, only the package's own command
// is started: one found on PATH alone may be the system's kill, which knows
// nothing of the identity it is given, or anybody's.
std::optional<std::string> LinuxPlatform::ResolveCommand(const std::string& name) const {
  const std::string own = OwnDirectory();
  std::optional<std::string> program = posix::ResolveProgram(
      name, own, privileged_ ? "" : SearchPath(), IsExecutableFile, IsTrustedProgram);
  if (program || !privileged_) return program;
  if (const auto onPath =
          posix::ResolveProgram(name, "", SearchPath(), IsExecutableFile, IsTrustedProgram)) {
    std::fprintf(stderr,
                 "zeitwache: not starting %s found only on PATH: a privileged run starts "
                 "only its own %s\n",
                 onPath->c_str(), name.c_str());
  }
  return std::nullopt;
}

// A started command may already have ended (it is not reaped yet, so its
// start time is still there to pin it).
void LinuxPlatform::RecordStarted(int pid, ProcessInformation* info) {
  const auto id = static_cast<std::uint32_t>(pid);
  int error = 0;
  ProcessIdentity identity = Identify(id, &error, true).value_or(ProcessIdentity{id});
  info->process = AddHandle({HandleKind::kProcess, identity, pid});
  info->thread = AddHandle({HandleKind::kThread, identity});
  info->processId = id;
  info->threadId = id;  // the first thread's id is the process id
}

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

std::string LinuxPlatform::ProgramDirectory() { return OwnDirectory(); }

// There is no window system to ask: no windows, and none can be described.
bool LinuxPlatform::EnumWindows(const std::function<bool(WindowHandle)>&) { return true; }

std::uint32_t LinuxPlatform::GetWindowThreadProcessId(WindowHandle, std::uint32_t* processId) {
  if (processId != nullptr) *processId = 0;
  lastError_ = kErrorInvalidWindowHandle;
  return 0;
}

int LinuxPlatform::GetWindowTextA(WindowHandle, char* buffer, int maxCount) {
  if (buffer != nullptr && maxCount > 0) buffer[0] = '\0';
  lastError_ = kErrorInvalidWindowHandle;
  return 0;
}

}  // namespace zw
