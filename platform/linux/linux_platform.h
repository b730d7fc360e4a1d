// The Linux backend of zw::Platform: processes from /proc, the watch list
// from the file system, commands started with fork and exec. All state
// (handles, the cached snapshot, started children) lives in the object.
//
// A check reads every process once: what the snapshot read of each is kept
// until the next snapshot, and opening a process of it asks /proc nothing
// more. Without the right to signal other users' processes (root or
// CAP_KILL), those processes cannot be opened, as on Windows without the
// debug privilege: they stay unmeasured rather than be sent a futile kill.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_list.h"
#include "platform/linux/profile_file.h"
#include "platform/platform.h"

namespace zw {

namespace posix {
/// The Win32 error code closest to errno value `error`: the one place where
/// the backend's errno becomes the interface's convention.
std::uint32_t ErrnoToWin32(int error);
}  // namespace posix

class LinuxPlatform : public Platform {
 public:
  LinuxPlatform();
  ~LinuxPlatform() override;
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  char PathSeparator() const override;
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override;
  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultValue, char* buffer, std::uint32_t size,
                                         const char* fileName) override;
  std::uint32_t ReadWholeFile(const char* path, std::size_t limit, std::string* contents) override;
  bool WritableByOthers(const char* path, bool* writable) override;
  Handle GetCurrentProcess() override;
  bool OpenProcessToken(Handle process, std::uint32_t desiredAccess, Handle* token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override;
  bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges, const Luid& luid,
                             std::uint32_t attributes) override;
  std::uint32_t GetLastError() override;
  std::int32_t RegQueryValueExA(RegistryKey key, const char* valueName, std::uint8_t* data,
                                std::uint32_t* size) override;
  std::int32_t RegCloseKey(RegistryKey key) override;
  int WideCharToMultiByte(const char16_t* wide, int wideLength, char* out, int outSize) override;
  Handle OpenProcess(std::uint32_t desiredAccess, bool inheritHandle,
                     std::uint32_t processId) override;
  bool GetProcessTimes(Handle process, FileTime* creation, FileTime* exit, FileTime* kernel,
                       FileTime* user) override;
  bool GetProcessStartMark(Handle process, std::uint64_t* mark) override;
  bool FileTimeToSystemTime(FileTime fileTime, SystemTime* systemTime) override;
  bool CloseHandle(Handle handle) override;
  bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                      std::uint32_t creationFlags, const StartupInfo& startupInfo,
                      ProcessInformation* processInformation) override;
  std::string FindCommandProgram(const char* name, bool* own,
                                 std::vector<std::string>* passedOver) override;
  bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
  CommandState GetCommandState(Handle command, std::uint32_t* exitCode) override;
  bool SetCommandTarget(const TargetIdentity* target) override;
  bool MustNeverEnd(Handle process, bool* never) override;
  void HoldTermination(bool hold) override;
  std::uint32_t JudgeFileTrust(const char* fileName, std::vector<std::string>* findings) override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t GetCurrentProcessId() override;
  std::int64_t time() override;
  bool EnumWindows(const std::function<bool(WindowHandle)>& callback) override;
  std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) override;
  int GetWindowTextA(WindowHandle window, char* buffer, int maxCount) override;
  bool IsWindowVisible(WindowHandle) override { return false; }
  std::string ProgramDirectory() override;
  /// In file_output.cc.
  std::uint32_t ReplaceFileContents(const char* path, std::string_view contents) override;

 private:
  // A process as it was when opened: the pid together with its start time
  // names one process even after the pid has been reused.
  struct ProcessIdentity {
    std::uint32_t pid = 0;
    std::uint64_t startTicks = 0;
    FileTime creation = 0;
    FileTime kernel = 0;
    FileTime user = 0;
    // pid 1 or a kernel thread: MustNeverEnd.
    bool critical = false;
  };
  enum class HandleKind { kProcess, kThread, kToken };
  struct HandleEntry {
    HandleKind kind = HandleKind::kProcess;
    ProcessIdentity process;
    // The command this process handle was returned for by CreateProcessA;
    // 0 for any other handle.
    int command = 0;
  };
  // A command started by CreateProcessA, kept until it has been reaped and
  // its process handle closed.
  struct StartedCommand {
    // Set once it has been reaped.
    std::optional<std::uint32_t> exitCode;
    bool handleOpen = true;
  };

  // The pseudo handle of the calling process, the same value as on the
  // platform the interface comes from; it is never in the handle table.
  static constexpr auto kCurrentProcess = static_cast<Handle>(~std::uintptr_t{0});

  bool Fail(std::uint32_t error);
  Handle AddHandle(const HandleEntry& entry);
  HandleEntry* FindHandle(Handle handle);
  // Reads process `pid` into `*identity`: 0, or the errno with `*identity`
  // unchanged. `allowEnded` admits a process that has ended but is not
  // reaped yet.
  int Identify(std::uint32_t pid, bool allowEnded, ProcessIdentity* identity);
  // The process as the latest snapshot read it; nullopt when not listed.
  std::optional<ProcessIdentity> FromSnapshot(std::uint32_t pid) const;
  std::optional<ProcessIdentity> IdentityOf(const posix::ProcFacts& facts) const;
  std::int32_t BuildSnapshot();
  void RecordStarted(int pid, ProcessInformation* info);
  // Reaps the commands that have ended, without waiting, and forgets those
  // nobody holds a handle to any more.
  void ReapCommands();

  std::uint32_t lastError_ = 0;
  std::uint64_t ticksPerSecond_ = 100;
  std::uintptr_t nextHandle_ = 0;
  std::unordered_map<std::uintptr_t, HandleEntry> handles_;
  // Root or CAP_KILL, decided once: whether other users' processes count.
  bool privileged_ = false;
  std::optional<std::vector<std::uint8_t>> snapshot_;
  // Wall-clock time of boot, read once: one offset for the whole run.
  std::int64_t bootWallNs_ = 0;
  // What the latest snapshot read, by pid; kept after the key is closed,
  // for the run-time pass that follows.
  std::vector<posix::ProcFacts> facts_;
  std::unordered_map<int, StartedCommand> commands_;
  posix::ProcReader reader_;
  // Kept between snapshots where the process events connector can be used.
  posix::ProcessListing listing_{reader_, posix::ListingOptionsFromEnvironment()};
  // The watch list, parsed again only when the file changes.
  posix::ProfileCache profiles_;
};

}  // namespace zw
