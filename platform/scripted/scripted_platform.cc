// The scripted backend: every answer comes from the test's script.
#include "platform/scripted/scripted_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/file_time.h"
#include "platform/backend_helpers/perf_data_builder.h"
#include "platform/backend_helpers/utf16.h"
#include "platform/list_format/profile_reader.h"

namespace zw {

bool ScriptedPlatform::Fails(ScriptedOp op) {
  const auto it = failures.find(op);
  if (it == failures.end()) return false;
  lastError_ = it->second;
  return true;
}

const ScriptedSnapshot* ScriptedPlatform::Current() const {
  if (snapshots.empty()) return nullptr;
  return &snapshots[std::min(served_, snapshots.size() - 1)];
}

const ScriptedSnapshot* ScriptedPlatform::LastServed() const {
  if (snapshots.empty()) return nullptr;
  return &snapshots[std::min(served_ == 0 ? 0 : served_ - 1, snapshots.size() - 1)];
}

const ScriptedProcess* ScriptedPlatform::FindLive(std::uint32_t pid) const {
  const ScriptedSnapshot* snapshot = LastServed();
  if (snapshot == nullptr || std::find(killed_.begin(), killed_.end(), pid) != killed_.end()) {
    return nullptr;
  }
  for (const ScriptedProcess& p : snapshot->processes) {
    if (p.pid == pid && pid != 0) return &p;
  }
  return nullptr;
}

std::vector<std::uint8_t> ScriptedPlatform::CurrentBlock() const {
  const ScriptedSnapshot* snapshot = Current();
  if (snapshot == nullptr) return BuildProcessPerfData({});
  if (snapshot->rawBlock) return *snapshot->rawBlock;
  std::vector<PerfProcess> instances;
  for (const ScriptedProcess& p : snapshot->processes) {
    if (std::find(killed_.begin(), killed_.end(), p.pid) == killed_.end()) {
      instances.push_back({p.pid, p.name});
    }
  }
  return BuildProcessPerfData(instances);
}

std::uint32_t ScriptedPlatform::GetCurrentDirectoryA(std::uint32_t size, char* buffer) {
  if (Fails(ScriptedOp::kGetCurrentDirectory)) return 0;
  if (currentDirectory.size() + 1 > size) {
    return static_cast<std::uint32_t>(currentDirectory.size() + 1);
  }
  std::memcpy(buffer, currentDirectory.c_str(), currentDirectory.size() + 1);
  return static_cast<std::uint32_t>(currentDirectory.size());
}

std::uint32_t ScriptedPlatform::GetPrivateProfileStringA(const char* section, const char* key,
                                                         const char* defaultValue, char* buffer,
                                                         std::uint32_t size, const char* fileName) {
  ++profileReads;
  profileKeys.emplace_back(key);
  if (profileHook) {
    const std::optional<std::string> value = profileHook(key);
    if (value) return ReadProfileString("[s]\nk=" + *value, "s", "k", defaultValue, buffer, size);
    return ReadProfileString(std::nullopt, section, key, defaultValue, buffer, size);
  }
  const auto it = files.find(fileName);
  std::optional<std::string_view> text;
  if (it != files.end()) text = it->second;
  return ReadProfileString(text, section, key, defaultValue, buffer, size);
}

Handle ScriptedPlatform::GetCurrentProcess() { return static_cast<Handle>(~std::uintptr_t{0}); }

bool ScriptedPlatform::OpenProcessToken(Handle, std::uint32_t, Handle* token) {
  if (Fails(ScriptedOp::kOpenProcessToken)) return false;
  *token = static_cast<Handle>(nextHandle_++);
  return true;
}

bool ScriptedPlatform::LookupPrivilegeValueA(const char*, const char*, Luid* luid) {
  if (Fails(ScriptedOp::kLookupPrivilegeValue)) return false;
  *luid = Luid{20, 0};
  return true;
}

bool ScriptedPlatform::AdjustTokenPrivileges(Handle, bool, const Luid&, std::uint32_t) {
  // Like the real call, it succeeds and reports a privilege it could not
  // give through the last error alone.
  if (!Fails(ScriptedOp::kAdjustTokenPrivileges)) lastError_ = 0;
  return true;
}

std::int32_t ScriptedPlatform::RegQueryValueExA(RegistryKey, const char* valueName,
                                                std::uint8_t* data, std::uint32_t* size) {
  ++perfQueries;
  if (Fails(ScriptedOp::kRegQueryValueEx)) return static_cast<std::int32_t>(lastError_);
  if (std::string_view(valueName) != "230") return kErrorFileNotFound;
  const std::vector<std::uint8_t> block = CurrentBlock();
  if (block.size() > *size) return kErrorMoreData;
  if (!block.empty()) std::memcpy(data, block.data(), block.size());
  *size = static_cast<std::uint32_t>(block.size());
  return kErrorSuccess;
}

std::int32_t ScriptedPlatform::RegCloseKey(RegistryKey) {
  ++served_;
  return kErrorSuccess;
}

int ScriptedPlatform::WideCharToMultiByte(const char16_t* wide, int wideLength, char* out,
                                          int outSize) {
  if (Fails(ScriptedOp::kWideCharToMultiByte)) return 0;
  return WideCharToUtf8(wide, wideLength, out, outSize, &lastError_);
}

Handle ScriptedPlatform::OpenProcess(std::uint32_t desiredAccess, bool, std::uint32_t processId) {
  if (Fails(ScriptedOp::kOpenProcess)) return Handle::kNull;
  const ScriptedProcess* p = FindLive(processId);
  if (p == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return Handle::kNull;
  }
  if (!p->openable || (p->queryLimitedOnly && desiredAccess != kProcessQueryLimitedInformation)) {
    lastError_ = kErrorAccessDenied;
    return Handle::kNull;
  }
  const std::uintptr_t handle = nextHandle_++;
  processHandles_[handle] = processId;
  ++openHandles;
  return static_cast<Handle>(handle);
}

const ScriptedProcess* ScriptedPlatform::Opened(Handle process) {
  const auto it = processHandles_.find(static_cast<std::uintptr_t>(process));
  const ScriptedProcess* p = it == processHandles_.end() ? nullptr : FindLive(it->second);
  if (p == nullptr) lastError_ = kErrorInvalidHandle;
  return p;
}

bool ScriptedPlatform::GetProcessTimes(Handle process, FileTime* creation, FileTime* exit,
                                       FileTime* kernel, FileTime* user) {
  if (Fails(ScriptedOp::kGetProcessTimes)) return false;
  const ScriptedProcess* p = Opened(process);
  if (p == nullptr) return false;
  *creation = p->creationOverride ? *p->creationOverride : UnixToFileTime(p->startedAt).value_or(0);
  *exit = *kernel = *user = 0;
  return true;
}

bool ScriptedPlatform::GetProcessStartMark(Handle process, std::uint64_t* mark) {
  FileTime creation = 0, exit = 0, kernel = 0, user = 0;
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return false;
  *mark = creation;
  return true;
}

bool ScriptedPlatform::FileTimeToSystemTime(FileTime fileTime, SystemTime* systemTime) {
  if (Fails(ScriptedOp::kFileTimeToSystemTime)) return false;
  if (!FileTimeToCalendar(fileTime, systemTime)) {
    lastError_ = kErrorInvalidParameter;
    return false;
  }
  return true;
}

bool ScriptedPlatform::CloseHandle(Handle handle) {
  if (processHandles_.erase(static_cast<std::uintptr_t>(handle)) == 1) --openHandles;
  commandEnds_.erase(static_cast<std::uintptr_t>(handle));
  return true;
}

bool ScriptedPlatform::CreateProcessA(const char*, char* commandLine, bool, std::uint32_t,
                                      const StartupInfo&, ProcessInformation* info) {
  commandLines.emplace_back(commandLine);
  if (Fails(ScriptedOp::kCreateProcess)) return false;
  const std::string_view line(commandLine);
  if (killRemovesProcess && line.starts_with("kill ")) {
    killed_.push_back(static_cast<std::uint32_t>(std::strtoll(commandLine + 5, nullptr, 10)));
  }
  commandTargets.push_back(commandTarget.value_or(""));
  info->process = static_cast<Handle>(nextHandle_++);
  info->thread = static_cast<Handle>(nextHandle_++);
  info->processId = 9000 + static_cast<std::uint32_t>(commandLines.size());
  commandEnds_[static_cast<std::uintptr_t>(info->process)] = nowMs + commandRunsMs;
  return true;
}

bool ScriptedPlatform::TerminateProcess(Handle process, std::uint32_t) {
  const auto it = commandEnds_.find(static_cast<std::uintptr_t>(process));
  if (it == commandEnds_.end()) {
    lastError_ = kErrorAccessDenied;
    return false;
  }
  it->second = std::min(it->second, nowMs);
  ++terminatedCommands;
  return true;
}

void ScriptedPlatform::HoldTermination(bool hold) {
  if (onHold) onHold(hold);
}

// As the Win32 backend words its findings, the file first.
std::uint32_t ScriptedPlatform::JudgeFileTrust(const char* fileName,
                                               std::vector<std::string>* findings) {
  findings->clear();
  if (Fails(ScriptedOp::kJudgeFileTrust)) return lastError_;
  for (std::string object = fileName;;) {
    if (writableByOthers.count(object) != 0) {
      findings->push_back(object + " is writable by other users");
    }
    const std::size_t at = object.rfind(separator);
    if (at == std::string::npos) break;
    std::string up = object.substr(0, at);
    // The root keeps its separator: "C:\" or "/".
    if (up.empty() || up.back() == ':') up += separator;
    if (up == object) break;
    object = std::move(up);
  }
  return kErrorSuccess;
}

void ScriptedPlatform::Sleep(std::uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  nowMs += milliseconds;
  if (onSleep) onSleep(*this);
}

bool ScriptedPlatform::EnumWindows(const std::function<bool(WindowHandle)>& callback) {
  for (const ScriptedWindow& w : windows) {
    if (!callback(w.window)) break;
  }
  return true;
}

const ScriptedWindow* ScriptedPlatform::FindWindow(WindowHandle window) const {
  for (const ScriptedWindow& w : windows) {
    if (w.window == window) return &w;
  }
  return nullptr;
}

std::uint32_t ScriptedPlatform::GetWindowThreadProcessId(WindowHandle window,
                                                         std::uint32_t* processId) {
  if (Fails(ScriptedOp::kGetWindowThreadProcessId)) return 0;
  const ScriptedWindow* w = FindWindow(window);
  if (w == nullptr) return 0;
  *processId = w->pid;
  return 1;
}

bool ScriptedPlatform::IsWindowVisible(WindowHandle window) {
  const ScriptedWindow* w = FindWindow(window);
  return w != nullptr && w->visible;
}

int ScriptedPlatform::GetWindowTextA(WindowHandle window, char* buffer, int maxCount) {
  if (maxCount <= 0) return 0;
  const ScriptedWindow* w = FindWindow(window);
  const std::string title = w == nullptr ? std::string() : w->title;
  const std::size_t length = std::min(title.size(), static_cast<std::size_t>(maxCount - 1));
  std::memcpy(buffer, title.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

std::uint32_t ScriptedPlatform::ReplaceFileContents(const char* path, std::string_view contents) {
  if (Fails(ScriptedOp::kReplaceFileContents)) return lastError_;
  ++fileReplacements;
  files[path] = std::string(contents);
  return kErrorSuccess;
}

}  // namespace zw
