// A platform for tests: process lists replayed snapshot by snapshot, a
// virtual clock that Sleep advances, recorded command lines, and failures
// injected on demand.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace zw {

struct ScriptedProcess {
  std::uint32_t pid = 0;
  std::u16string name;
  /// Creation time as seconds since 1970 UTC.
  std::int64_t startedAt = 0;
  /// false: OpenProcess fails with access denied.
  bool openable = true;
  /// Replaces the creation time derived from startedAt (e.g. an
  /// unconvertible value).
  std::optional<FileTime> creationOverride;
  /// MustNeverEnd's answer.
  bool critical = false;
  /// Opens with kProcessQueryLimitedInformation alone, as a protected
  /// system process does.
  bool queryLimitedOnly = false;
};

struct ScriptedSnapshot {
  std::vector<ScriptedProcess> processes;
  /// Served instead of the block built from `processes`, when set.
  std::optional<std::vector<std::uint8_t>> rawBlock;
};

struct ScriptedWindow {
  WindowHandle window = WindowHandle::kNull;
  std::uint32_t pid = 0;
  std::string title;
  /// false: an invisible window, such as a GUI program's IME window.
  bool visible = true;
};

/// The operations that can be made to fail.
enum class ScriptedOp {
  kGetCurrentDirectory,
  kOpenProcessToken,
  kLookupPrivilegeValue,
  kAdjustTokenPrivileges,
  kRegQueryValueEx,
  kWideCharToMultiByte,
  kOpenProcess,
  kGetProcessTimes,
  kFileTimeToSystemTime,
  kCreateProcess,
  kGetWindowThreadProcessId,
  kGetCommandState,
  kReadWholeFile,
  kJudgeFileTrust,
  kReplaceFileContents,
};

class ScriptedPlatform final : public Platform {
 public:
  // --- the script ---
  char separator = '\\';
  std::string currentDirectory = "C:\\WATCH";
  /// Where the watchdog and its kill command lie.
  std::string programDirectory = "C:\\ZW";
  /// Profile files by exact path.
  std::map<std::string, std::string> files;
  /// The files and directories others may change, by exact path.
  /// JudgeFileTrust finds those of the file and every directory above it.
  std::set<std::string> writableByOthers;
  /// One per snapshot, in order; the last one is served again and again.
  std::vector<ScriptedSnapshot> snapshots;
  std::vector<ScriptedWindow> windows;
  std::uint32_t currentProcessId = 4242;
  /// Virtual wall clock, milliseconds since 1970 UTC.
  std::int64_t nowMs = 1'700'000'000'000;
  /// Error codes of the operations that fail, every time they are called.
  std::map<ScriptedOp, std::uint32_t> failures;
  /// When set, a started "kill <pid>" removes that process from every later
  /// snapshot, as a real termination would.
  bool killRemovesProcess = false;
  /// How long (virtual ms) a started command runs, and the exit code it
  /// ends with.
  std::int64_t commandRunsMs = 0;
  std::uint32_t commandExitCode = 0;
  /// FindCommandProgram's answer: the path ("" for none), whether it is
  /// the program's own, and what it passed over.
  std::string commandProgram = "C:\\ZEITWACHE\\kill.exe";
  bool commandProgramOwn = true;
  std::vector<std::string> commandPassedOver;
  /// Called after every Sleep, e.g. to edit the watch list while the tool
  /// waits.
  std::function<void(ScriptedPlatform&)> onSleep;
  /// Called with every HoldTermination, e.g. to see what was written by the
  /// time a held request to stop would take effect.
  std::function<void(bool hold)> onHold;
  /// When set, answers every profile read instead of `files`; nullopt means
  /// the key is missing.
  std::function<std::optional<std::string>(std::string_view key)> profileHook;

  // --- what happened ---
  std::vector<std::string> commandLines;
  /// The target each command was started with, as kill reads it ("" for
  /// none), and the one commands started next would be told.
  std::vector<std::string> commandTargets;
  std::optional<std::string> commandTarget;
  std::vector<std::uint32_t> sleeps;
  /// Keys read from the watch list, in order.
  std::vector<std::string> profileKeys;
  int profileReads = 0;
  /// Files read whole.
  int fileReads = 0;
  int perfQueries = 0;
  int fileReplacements = 0;
  int openHandles = 0;
  /// Commands ended by TerminateProcess.
  int terminatedCommands = 0;

  /// Handles of started commands not closed yet.
  std::size_t OpenCommandHandles() const { return commandEnds_.size(); }

  /// The block the current snapshot's query returns.
  std::vector<std::uint8_t> CurrentBlock() const;

  char PathSeparator() const override { return separator; }
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override;
  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultValue, char* buffer, std::uint32_t size,
                                         const char* fileName) override;
  /// From `files`, by exact path; counted in `fileReads`.
  std::uint32_t ReadWholeFile(const char* path, std::size_t limit, std::string* contents) override {
    ++fileReads;
    contents->clear();
    if (Fails(ScriptedOp::kReadWholeFile)) return lastError_;
    const auto it = files.find(path);
    if (it == files.end()) return kErrorFileNotFound;
    if (it->second.size() > limit) return kErrorNotEnoughMemory;
    *contents = it->second;
    return kErrorSuccess;
  }
  /// From `writableByOthers`; never fails.
  bool WritableByOthers(const char* path, bool* writable) override {
    *writable = writableByOthers.count(path) != 0;
    return true;
  }
  Handle GetCurrentProcess() override;
  bool OpenProcessToken(Handle process, std::uint32_t desiredAccess, Handle* token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override;
  bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges, const Luid& luid,
                             std::uint32_t attributes) override;
  std::uint32_t GetLastError() override { return lastError_; }
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
  std::string FindCommandProgram(const char*, bool* own,
                                 std::vector<std::string>* passedOver) override {
    *own = commandProgramOwn;
    if (passedOver != nullptr) *passedOver = commandPassedOver;
    return commandProgram;
  }
  bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
  /// Running until `commandRunsMs` have passed on the virtual clock, then
  /// ended with `commandExitCode`.
  CommandState GetCommandState(Handle command, std::uint32_t* exitCode) override {
    if (Fails(ScriptedOp::kGetCommandState)) return CommandState::kUnknown;
    const auto it = commandEnds_.find(static_cast<std::uintptr_t>(command));
    if (it == commandEnds_.end()) {
      lastError_ = kErrorInvalidHandle;
      return CommandState::kUnknown;
    }
    if (nowMs < it->second) return CommandState::kRunning;
    *exitCode = commandExitCode;
    return CommandState::kEnded;
  }
  bool SetCommandTarget(const TargetIdentity* target) override {
    commandTarget = target != nullptr ? std::optional(FormatTarget(*target)) : std::nullopt;
    return true;
  }
  bool MustNeverEnd(Handle process, bool* never) override {
    const ScriptedProcess* p = Opened(process);
    if (p != nullptr) *never = p->critical;
    return p != nullptr;
  }
  void HoldTermination(bool hold) override;
  std::uint32_t JudgeFileTrust(const char* fileName, std::vector<std::string>* findings) override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t GetCurrentProcessId() override { return currentProcessId; }
  std::int64_t time() override { return nowMs / 1000; }
  bool EnumWindows(const std::function<bool(WindowHandle)>& callback) override;
  std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) override;
  int GetWindowTextA(WindowHandle window, char* buffer, int maxCount) override;
  bool IsWindowVisible(WindowHandle window) override;
  std::string ProgramDirectory() override { return programDirectory; }
  /// Into `files`, and counted in `fileReplacements`.
  std::uint32_t ReplaceFileContents(const char* path, std::string_view contents) override;

 private:
  bool Fails(ScriptedOp op);
  /// The snapshot the next query returns, and the one the last returned.
  const ScriptedSnapshot* Current() const;
  const ScriptedSnapshot* LastServed() const;
  const ScriptedProcess* FindLive(std::uint32_t pid) const;
  // The live process `process` was opened for; kNull and unknown handles
  // fail with kErrorInvalidHandle.
  const ScriptedProcess* Opened(Handle process);
  const ScriptedWindow* FindWindow(WindowHandle window) const;

  std::uint32_t lastError_ = 0;
  std::size_t served_ = 0;  // index of the snapshot the next query returns
  std::uintptr_t nextHandle_ = 0x100;
  std::map<std::uintptr_t, std::uint32_t> processHandles_;  // handle -> pid
  std::map<std::uintptr_t, std::int64_t> commandEnds_;      // handle -> nowMs it ends
  std::vector<std::uint32_t> killed_;
};

}  // namespace zw
