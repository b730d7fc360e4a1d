// The operations the watchdog needs from the operating system, and nothing
// more. They keep the names and the failure conventions of the Win32 API the
// tool was first written against, so the Win32 backend forwards them 1:1 and
// the Linux and scripted backends reproduce the same observable behaviour.
//
// No OS header may be included here: handles cross this boundary as opaque
// values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/time_types.h"
#include "platform/kill_protocol/target_identity.h"
#include "platform/win32_errors.h"

namespace zw {

/// A process, thread or access-token handle. kNull is "no handle".
enum class Handle : std::uintptr_t { kNull = 0 };

/// Where a command started by CreateProcessA stands.
enum class CommandState { kRunning, kEnded, kUnknown };

/// A top-level window. kNull is "no window".
enum class WindowHandle : std::uintptr_t { kNull = 0 };

/// The predefined registry keys the tool reads. Only the performance data.
enum class RegistryKey { kPerformanceData };

/// Locally unique identifier of a privilege.
struct Luid {
  std::uint32_t lowPart = 0;
  std::int32_t highPart = 0;
};

/// The part of STARTUPINFOA the tool sets; everything else is zero.
struct StartupInfo {
  std::uint32_t cb = 0;
  std::uint32_t flags = 0;
  std::uint16_t showWindow = 0;
};

struct ProcessInformation {
  Handle process = Handle::kNull;
  Handle thread = Handle::kNull;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
};

inline constexpr std::uint32_t kTokenQuery = 0x0008;
inline constexpr std::uint32_t kTokenAdjustPrivileges = 0x0020;
inline constexpr std::uint32_t kProcessVmRead = 0x0010;
inline constexpr std::uint32_t kProcessQueryInformation = 0x0400;
/// The access every process grants to an administrator, protected ones too.
inline constexpr std::uint32_t kProcessQueryLimitedInformation = 0x1000;
inline constexpr std::uint32_t kSePrivilegeEnabled = 0x00000002;
inline constexpr std::uint16_t kSwShow = 5;

/// Every operation the logic performs on the system. Failures follow the
/// Win32 conventions: a zero/false/kNull result, with the reason available
/// from GetLastError() until the next failing call.
class Platform {
 public:
  virtual ~Platform() = default;

  /// The directory separator of the platform's paths.
  virtual char PathSeparator() const = 0;

  /// Writes the current directory into `buffer` (of `size` bytes) and
  /// returns its length without the terminator. When it does not fit,
  /// returns the size needed including the terminator and leaves `buffer`
  /// unspecified. 0 on failure.
  virtual std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) = 0;

  /// Reads `key` of `section` from the profile file `fileName` into
  /// `buffer` (of `size` bytes, at least 1), or `defaultValue` when the key
  /// or file is missing, cut to size - 1 characters and zero-terminated.
  /// Returns the number of characters copied. Never fails otherwise.
  virtual std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                                 const char* defaultValue, char* buffer,
                                                 std::uint32_t size, const char* fileName) = 0;

  /// The bytes of the ordinary file `path` into `*contents`. Where names
  /// differ in letter case, a file whose name differs from `path` only in
  /// ASCII case is read when none has exactly that name, as
  /// GetPrivateProfileStringA finds it. Returns kErrorSuccess, or the Win32
  /// error: kErrorFileNotFound or kErrorPathNotFound when there is no such
  /// file, kErrorAccessDenied for a directory or device in its place, and
  /// kErrorNotEnoughMemory when it holds more than `limit` bytes.
  virtual std::uint32_t ReadWholeFile(const char* path, std::size_t limit,
                                      std::string* contents) = 0;

  /// Whether someone other than the system, the administrators and the
  /// caller could change the file or directory `path` (found as
  /// ReadWholeFile finds a file), or who may do so: on Linux its owner and
  /// mode bits, on Windows its DACL. false on failure, `*writable` unchanged.
  virtual bool WritableByOthers(const char* path, bool* writable) = 0;

  /// Pseudo handle of the calling process; never fails.
  virtual Handle GetCurrentProcess() = 0;

  /// Opens the access token of `process`. false on failure.
  virtual bool OpenProcessToken(Handle process, std::uint32_t desiredAccess, Handle* token) = 0;

  /// Looks up the identifier of privilege `name` on `systemName` (nullptr:
  /// the local system). false on failure.
  virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) = 0;

  /// Sets the attributes of one privilege in `token`. Returns true when the
  /// call itself worked; last error kErrorNotAllAssigned when the privilege
  /// could not be given, 0 when it was.
  virtual bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges, const Luid& luid,
                                     std::uint32_t attributes) = 0;

  virtual std::uint32_t GetLastError() = 0;

  /// Reads value `valueName` of `key` into `data` (capacity `*size`).
  /// Returns 0 and sets `*size` to the bytes written; kErrorMoreData when
  /// the value does not fit (the caller grows the buffer and asks again);
  /// another Win32 error code on failure.
  virtual std::int32_t RegQueryValueExA(RegistryKey key, const char* valueName, std::uint8_t* data,
                                        std::uint32_t* size) = 0;

  virtual std::int32_t RegCloseKey(RegistryKey key) = 0;

  /// Converts `wideLength` UTF-16 units (-1: up to and including the
  /// terminator) to the ANSI code page, no default character. Returns the
  /// bytes written (including a converted terminator), 0 on failure.
  virtual int WideCharToMultiByte(const char16_t* wide, int wideLength, char* out, int outSize) = 0;

  /// kNull when the process is gone or may not be opened.
  ///
  /// Snapshot, then open: a backend may answer for a process of the latest
  /// snapshot (the last RegQueryValueExA of the process object) from what
  /// that snapshot read, without asking the system again. Linux does: such a
  /// process may still open, with the times and start mark the snapshot
  /// read, after it has ended; a process the snapshot did not list is looked
  /// up afresh. A caller must therefore take a new snapshot before it trusts
  /// an open to say that a process still runs, and must end a process only
  /// through a command that checks the identity it is given.
  virtual Handle OpenProcess(std::uint32_t desiredAccess, bool inheritHandle,
                             std::uint32_t processId) = 0;

  /// Creation, exit, kernel and user times of `process`. false on failure.
  virtual bool GetProcessTimes(Handle process, FileTime* creation, FileTime* exit, FileTime* kernel,
                               FileTime* user) = 0;

  /// What tells `process` exactly from every other process that had or will
  /// have its identifier, as the system keeps it: the start in clock ticks
  /// since boot on Linux, the creation FILETIME on Windows. Every read of
  /// one process gives the same value, so two are compared exactly. false
  /// on failure.
  virtual bool GetProcessStartMark(Handle process, std::uint64_t* mark) = 0;

  /// Calendar record (UTC) of `fileTime`. false when it is out of range.
  virtual bool FileTimeToSystemTime(FileTime fileTime, SystemTime* systemTime) = 0;

  virtual bool CloseHandle(Handle handle) = 0;

  /// Starts `commandLine` (writable, as the platform may modify it) without
  /// waiting for it. With no `applicationName` the program is looked up by
  /// the platform's rules for a bare command. false on failure.
  virtual bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                              std::uint32_t creationFlags, const StartupInfo& startupInfo,
                              ProcessInformation* processInformation) = 0;

  /// The program CreateProcessA would start for the bare command `name`
  /// (no application name), found as it finds it. `*own` tells whether it
  /// is the one installed with this program (in its own place) rather than
  /// one found on the search path. Each program passed over on the way (as
  /// untrusted, or found where this run does not start it) is one line in
  /// `*passedOver` (nullptr: not wanted). Empty when none would be started.
  virtual std::string FindCommandProgram(const char* name, bool* own,
                                         std::vector<std::string>* passedOver) = 0;
  /// Ends `process`, a command this process started, at once and for good
  /// (on Linux SIGKILL, and the command is reaped). false on failure, and
  /// for any process not started by CreateProcessA.
  virtual bool TerminateProcess(Handle process, std::uint32_t exitCode) = 0;

  /// Whether `command`, started by CreateProcessA, still runs; once it has
  /// ended, its exit code into `*exitCode`. kUnknown on failure (on Linux
  /// for any process this one did not start), with the reason in
  /// GetLastError().
  virtual CommandState GetCommandState(Handle command, std::uint32_t* exitCode) = 0;

  /// The process the commands started from now on are told to end (nullptr:
  /// none), handed over as kill_protocol/target_identity.h says. false on
  /// failure.
  virtual bool SetCommandTarget(const TargetIdentity* target) = 0;

  /// Whether `process` must never be ended, as the system cannot lose it
  /// without stopping: critical processes on Windows; on Linux pid 1 and
  /// kernel threads. false on failure, with `*never` unchanged.
  virtual bool MustNeverEnd(Handle process, bool* never) = 0;

  /// While `hold` is true, a request to end this program (SIGTERM, SIGINT,
  /// SIGHUP) waits; once it is false again, a waiting one ends it at once.
  /// Commands started meanwhile are not held. Nothing to do where the
  /// system ends a console program by itself.
  virtual void HoldTermination(bool hold) = 0;

  /// Why someone other than the system, the administrators and the caller
  /// could change what the file `fileName` holds (found as ReadWholeFile
  /// finds it): the file itself and every directory on its way from the root,
  /// links followed. One line per finding into `*findings`, empty when there
  /// is none. Returns kErrorSuccess, or the Win32 error when the path cannot
  /// be judged.
  virtual std::uint32_t JudgeFileTrust(const char* fileName,
                                       std::vector<std::string>* findings) = 0;

  /// Suspends the thread; 0 only yields the processor.
  virtual void Sleep(std::uint32_t milliseconds) = 0;

  virtual std::uint32_t GetCurrentProcessId() = 0;

  /// The C library's time(): whole seconds since 1970-01-01 00:00 UTC.
  virtual std::int64_t time() = 0;

  /// Calls `callback` for every top-level window until it returns false.
  virtual bool EnumWindows(const std::function<bool(WindowHandle)>& callback) = 0;

  /// Thread that created `window` (0 on failure); its process in
  /// `*processId`.
  virtual std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) = 0;

  /// Title of `window` into `buffer` (`maxCount` bytes including the
  /// terminator). Returns its length, 0 when empty or on failure.
  virtual int GetWindowTextA(WindowHandle window, char* buffer, int maxCount) = 0;

  /// The folder of the running program, where the kill command lies beside
  /// it; empty when it cannot be told.
  virtual std::string ProgramDirectory() = 0;

  /// Whether `window` is shown to the user (it and the windows that own it
  /// are visible); false for hidden windows and on failure.
  virtual bool IsWindowVisible(WindowHandle window) = 0;
  /// Replaces the file `path` by one holding `contents`, readable by all
  /// (0644 where files have modes): written whole to a new file in the same
  /// directory, then renamed over `path`, so that a reader sees the old
  /// file or the new one and never a part. Where `path` is a symbolic link,
  /// the file it leads to is replaced, beside it. Returns kErrorSuccess, or
  /// the Win32 error; on failure the file is unchanged and nothing is left
  /// behind.
  virtual std::uint32_t ReplaceFileContents(const char* path, std::string_view contents) = 0;
};

/// The standard streams, where a process's log lines go.
enum class StandardStream { kOutput, kError };

/// Whether `stream` is connected to the systemd journal (the stream
/// systemd names in JOURNAL_STREAM); false wherever there is none.
bool IsJournalStream(StandardStream stream);

/// The kinds of entry an event log tells apart.
enum class EventType { kInformation, kWarning, kError };

/// The system's event log: the Application log on Windows, under the source
/// "ZEITWACHE". Reporting never fails the caller; an entry that cannot be
/// written is lost.
class EventLog {
 public:
  virtual ~EventLog() = default;
  virtual void Report(EventType type, std::string_view text) = 0;
};

/// The event log of this system; nullptr where there is none to write to
/// (on Linux the journal takes the standard streams instead).
std::unique_ptr<EventLog> MakeEventLog();

/// The backend of the platform the tool was built for.
std::unique_ptr<Platform> MakeNativePlatform();

/// Makes SIGTERM, SIGINT and SIGHUP end the process at once with exit code
/// 128 + signal, also as pid 1, which has no default action for them.
/// Commands already started run on. Nothing to do where the system ends a
/// console program by itself.
void EndOnTerminationSignals();

/// Makes a write to a closed pipe or socket fail (EPIPE) rather than end
/// the program, so that a reader that goes away cannot stop a run. Commands
/// started afterwards get the system's default back.
void SurviveClosedOutputs();

}  // namespace zw
