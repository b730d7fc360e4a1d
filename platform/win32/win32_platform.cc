// The Win32 backend: every zw::Platform operation forwarded to the Windows
// API call of the same name, with only the type conversions in between.
#include <windows.h>

#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/command_lookup.h"
#include "platform/win32/file_dacl.h"
#include "platform/win32/file_output.h"
#include "platform/win32/file_security.h"
#include "platform/win32/list_folder.h"
#include "platform/win32/list_trust.h"

namespace zw {
namespace {

// The identifier of the System process on every Windows since NT 5.
constexpr DWORD kSystemProcessId = 4;

static_assert(sizeof(HANDLE) == sizeof(Handle));
static_assert(sizeof(HWND) == sizeof(WindowHandle));
static_assert(sizeof(wchar_t) == sizeof(char16_t));

HANDLE ToWin32(Handle handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}

Handle FromWin32(HANDLE handle) {
  return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(handle));
}

HWND ToWin32(WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

WindowHandle FromWin32(HWND window) {
  return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(window));
}

FileTime FromWin32(const FILETIME& t) {
  return static_cast<FileTime>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

HKEY ToWin32(RegistryKey key) {
  switch (key) {
    case RegistryKey::kPerformanceData:
      return HKEY_PERFORMANCE_DATA;
  }
  return nullptr;
}

// What EnumWindows hands back to the trampoline through its LPARAM. An
// exception must not unwind through the system's frames, so it is parked
// here and rethrown once EnumWindows has returned.
struct EnumWindowsContext {
  const std::function<bool(WindowHandle)>* callback;
  std::exception_ptr failure;
};

BOOL CALLBACK EnumWindowsTrampoline(HWND window, LPARAM param) {
  auto* context = reinterpret_cast<EnumWindowsContext*>(param);
  try {
    return (*context->callback)(FromWin32(window)) ? TRUE : FALSE;
  } catch (...) {
    context->failure = std::current_exception();
    return FALSE;
  }
}

class Win32Platform : public Platform {
 public:
  char PathSeparator() const override { return '\\'; }

  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override {
    return ::GetCurrentDirectoryA(size, buffer);
  }

  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultValue, char* buffer, std::uint32_t size,
                                         const char* fileName) override {
    listFolder_.Hold(fileName);
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, fileName);
  }

  // Others may go on writing and renaming the file while it is read.
  std::uint32_t ReadWholeFile(const char* path, std::size_t limit, std::string* contents) override {
    contents->clear();
    const HANDLE file =
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    DWORD error = ::GetFileType(file) == FILE_TYPE_DISK ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    constexpr DWORD kChunk = 64 * 1024;
    // One chunk past the limit tells a file that is too large.
    while (error == ERROR_SUCCESS && contents->size() <= limit) {
      const std::size_t at = contents->size();
      contents->resize(at + kChunk);
      DWORD read = 0;
      const BOOL ok = ::ReadFile(file, contents->data() + at, kChunk, &read, nullptr);
      if (!ok) error = ::GetLastError();
      contents->resize(at + read);
      if (read == 0) break;
    }
    ::CloseHandle(file);
    if (error != ERROR_SUCCESS) return error;
    return contents->size() > limit ? kErrorNotEnoughMemory : kErrorSuccess;
  }

  bool WritableByOthers(const char* path, bool* writable) override {
    win32::SecurityInfo info;
    const std::uint32_t error = win32::ReadFileSecurity(path, &info);
    if (error != kErrorSuccess) {
      ::SetLastError(error);
      return false;
    }
    *writable = win32::LetsOthersChange(info);
    return true;
  }

  // The DACL of the file and of every folder above it, links resolved:
  // whoever may change one of them may put another list in its place. The
  // list's folder is held first, so the folder judged stays the one read.
  std::uint32_t JudgeFileTrust(const char* fileName, std::vector<std::string>* findings) override {
    findings->clear();
    if (const std::uint32_t error = listFolder_.Hold(fileName); error != kErrorSuccess) {
      return error;
    }
    return win32::JudgeResolvedPath(fileName, win32::ReadFileSecurity, findings);
  }

  Handle GetCurrentProcess() override { return FromWin32(::GetCurrentProcess()); }

  bool OpenProcessToken(Handle process, std::uint32_t desiredAccess, Handle* token) override {
    HANDLE opened = nullptr;
    const BOOL ok = ::OpenProcessToken(ToWin32(process), desiredAccess, &opened);
    *token = FromWin32(opened);
    return ok != FALSE;
  }

  bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override {
    LUID found{};
    if (!::LookupPrivilegeValueA(systemName, name, &found)) return false;
    luid->lowPart = found.LowPart;
    luid->highPart = found.HighPart;
    return true;
  }

  bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges, const Luid& luid,
                             std::uint32_t attributes) override {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = luid.lowPart;
    privileges.Privileges[0].Luid.HighPart = luid.highPart;
    privileges.Privileges[0].Attributes = attributes;
    return ::AdjustTokenPrivileges(ToWin32(token), disableAllPrivileges, &privileges, 0, nullptr,
                                   nullptr) != FALSE;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }

  std::int32_t RegQueryValueExA(RegistryKey key, const char* valueName, std::uint8_t* data,
                                std::uint32_t* size) override {
    DWORD length = *size;
    const LONG result =
        ::RegQueryValueExA(ToWin32(key), valueName, nullptr, nullptr, data, &length);
    *size = length;
    return result;
  }

  std::int32_t RegCloseKey(RegistryKey key) override { return ::RegCloseKey(ToWin32(key)); }

  int WideCharToMultiByte(const char16_t* wide, int wideLength, char* out, int outSize) override {
    return ::WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(wide), wideLength, out,
                                 outSize, nullptr, nullptr);
  }

  Handle OpenProcess(std::uint32_t desiredAccess, bool inheritHandle,
                     std::uint32_t processId) override {
    return FromWin32(::OpenProcess(desiredAccess, inheritHandle, processId));
  }

  bool GetProcessTimes(Handle process, FileTime* creation, FileTime* exit, FileTime* kernel,
                       FileTime* user) override {
    FILETIME c{}, e{}, k{}, u{};
    if (!::GetProcessTimes(ToWin32(process), &c, &e, &k, &u)) return false;
    *creation = FromWin32(c);
    *exit = FromWin32(e);
    *kernel = FromWin32(k);
    *user = FromWin32(u);
    return true;
  }

  bool FileTimeToSystemTime(FileTime fileTime, SystemTime* systemTime) override {
    FILETIME in{};
    in.dwLowDateTime = static_cast<DWORD>(fileTime);
    in.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME out{};
    if (!::FileTimeToSystemTime(&in, &out)) return false;
    systemTime->year = out.wYear;
    systemTime->month = out.wMonth;
    systemTime->dayOfWeek = out.wDayOfWeek;
    systemTime->day = out.wDay;
    systemTime->hour = out.wHour;
    systemTime->minute = out.wMinute;
    systemTime->second = out.wSecond;
    systemTime->milliseconds = out.wMilliseconds;
    return true;
  }

  bool CloseHandle(Handle handle) override { return ::CloseHandle(ToWin32(handle)) != FALSE; }

  bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                      std::uint32_t creationFlags, const StartupInfo& startupInfo,
                      ProcessInformation* processInformation) override {
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = startupInfo.flags;
    si.wShowWindow = startupInfo.showWindow;
    PROCESS_INFORMATION pi{};
    // The program is found here rather than by CreateProcessA's own search,
    // which would look in the current directory, the watch list's.
    std::string program;
    if (applicationName == nullptr) {
      if (!win32::ResolveCommandProgram(commandLine, win32::ReadFileSecurity, &program)) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
      }
      if (!program.empty()) applicationName = program.c_str();
    }
    if (!::CreateProcessA(applicationName, commandLine, nullptr, nullptr, inheritHandles,
                          creationFlags, nullptr, nullptr, &si, &pi)) {
      return false;
    }
    processInformation->process = FromWin32(pi.hProcess);
    processInformation->thread = FromWin32(pi.hThread);
    processInformation->processId = pi.dwProcessId;
    processInformation->threadId = pi.dwThreadId;
    return true;
  }

  std::string FindCommandProgram(const char* name, bool* own,
                                 std::vector<std::string>* passedOver) override {
    const std::string_view word = name != nullptr ? name : "";
    *own = false;
    if (word.empty() || win32::HoldsPath(word)) return std::string(word);
    return win32::LocateCommandProgram(word, win32::ReadFileSecurity, own, passedOver);
  }

  bool GetProcessStartMark(Handle process, std::uint64_t* mark) override {
    FILETIME c{}, e{}, k{}, u{};
    if (!::GetProcessTimes(ToWin32(process), &c, &e, &k, &u)) return false;
    *mark = FromWin32(c);
    return true;
  }

  bool TerminateProcess(Handle process, std::uint32_t exitCode) override {
    return ::TerminateProcess(ToWin32(process), exitCode) != FALSE;
  }

  // The system ends a console program on Ctrl+C, Ctrl+Break and when its
  // console closes; there is no request to hold.
  void HoldTermination(bool) override {}

  // Asked of the process itself rather than of its exit code, which a
  // command that ends with 259 (STILL_ACTIVE) would make look alive.
  CommandState GetCommandState(Handle command, std::uint32_t* exitCode) override {
    const DWORD wait = ::WaitForSingleObject(ToWin32(command), 0);
    if (wait == WAIT_TIMEOUT) return CommandState::kRunning;
    DWORD code = 0;
    if (wait != WAIT_OBJECT_0 || !::GetExitCodeProcess(ToWin32(command), &code)) {
      return CommandState::kUnknown;
    }
    *exitCode = code;
    return CommandState::kEnded;
  }

  // In the environment, which the commands started next inherit.
  bool SetCommandTarget(const TargetIdentity* target) override {
    const std::string identity = target != nullptr ? FormatTarget(*target) : std::string();
    return ::SetEnvironmentVariableA(kTargetVariable,
                                     target != nullptr ? identity.c_str() : nullptr) != FALSE;
  }

  bool MustNeverEnd(Handle process, bool* never) override {
    // The System process holds the kernel's threads; it is no less critical
    // where the call below does not say so.
    if (::GetProcessId(ToWin32(process)) == kSystemProcessId) {
      *never = true;
      return true;
    }
    // Windows 8.1 and later; before, no process is known to be critical.
    using IsProcessCriticalFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto call = reinterpret_cast<IsProcessCriticalFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "IsProcessCritical")));
    BOOL answer = FALSE;
    if (call != nullptr && !call(ToWin32(process), &answer)) return false;
    *never = answer != FALSE;
    return true;
  }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

  std::uint32_t GetCurrentProcessId() override { return ::GetCurrentProcessId(); }

  std::int64_t time() override { return ::_time64(nullptr); }

  bool EnumWindows(const std::function<bool(WindowHandle)>& callback) override {
    EnumWindowsContext context{&callback, nullptr};
    const BOOL ok = ::EnumWindows(EnumWindowsTrampoline, reinterpret_cast<LPARAM>(&context));
    if (context.failure) std::rethrow_exception(context.failure);
    return ok != FALSE;
  }

  std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) override {
    DWORD owner = 0;
    const DWORD thread = ::GetWindowThreadProcessId(ToWin32(window), &owner);
    if (processId != nullptr) *processId = owner;
    return thread;
  }

  int GetWindowTextA(WindowHandle window, char* buffer, int maxCount) override {
    return ::GetWindowTextA(ToWin32(window), buffer, maxCount);
  }

  std::string ProgramDirectory() override { return win32::ModuleDirectory(); }

  bool IsWindowVisible(WindowHandle window) override {
    return ::IsWindowVisible(ToWin32(window)) != FALSE;
  }

  std::uint32_t ReplaceFileContents(const char* path, std::string_view contents) override {
    return win32::ReplaceFileContents(path, contents);
  }

 private:
  win32::ListFolder listFolder_;
};

}  // namespace

std::unique_ptr<Platform> MakeNativePlatform() { return std::make_unique<Win32Platform>(); }

// A console program is ended by the system on Ctrl+C, Ctrl+Break and when
// its console closes; there is nothing to add.
void EndOnTerminationSignals() {}

// A closed pipe fails the write; it never ends the program.
void SurviveClosedOutputs() {}

}  // namespace zw
