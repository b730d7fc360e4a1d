// What Linux answers in Win32's own terms only: the last error, the handle
// table, the access token and its privilege, the performance-data registry
// value, string conversion and the (absent) windows.
#include <cerrno>
#include <cstring>
#include <functional>
#include <string_view>

#include "base/ascii.h"
#include "base/file_time.h"
#include "platform/backend_helpers/perf_data_builder.h"
#include "platform/backend_helpers/utf16.h"
#include "platform/linux/linux_platform.h"
#include "platform/perf_layout.h"

namespace zw {
namespace {

// The identifier the platform gives to SeDebugPrivilege.
constexpr Luid kDebugPrivilege{20, 0};
constexpr std::string_view kDebugPrivilegeName = "SeDebugPrivilege";

}  // namespace

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
  if (const auto command = commands_.find(entry->command); command != commands_.end()) {
    command->second.handleOpen = false;
  }
  handles_.erase(static_cast<std::uintptr_t>(handle));
  ReapCommands();
  return true;
}

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

namespace posix {

std::uint32_t ErrnoToWin32(int error) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
    case ELOOP:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case ENOMEM:
    case EAGAIN:
      return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ENOEXEC:
      return kErrorBadExeFormat;
    case ETXTBSY:
      return kErrorSharingViolation;
    case ESRCH:
    case EINVAL:
    case E2BIG:
      return kErrorInvalidParameter;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace posix
}  // namespace zw
