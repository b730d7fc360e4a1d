#include "platform/win32/command_lookup.h"

#include "base/ascii.h"
#include "platform/win32_errors.h"

#ifdef _WIN32
#include <windows.h>

#include <utility>
#endif

namespace zw::win32 {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Join(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!IsSeparator(path.back())) path.push_back('\\');
  path.append(name);
  return path;
}

// The part of `name` after its last separator holds a '.'.
bool HasExtension(std::string_view name) { return name.find('.') != std::string_view::npos; }

std::string_view Unquoted(std::string_view entry) {
  if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') {
    return entry.substr(1, entry.size() - 2);
  }
  return entry;
}

}  // namespace

std::string ProgramWord(std::string_view commandLine) {
  if (commandLine.starts_with('"')) {
    const std::size_t close = commandLine.find('"', 1);
    return std::string(commandLine.substr(1, close == std::string_view::npos ? close : close - 1));
  }
  const std::size_t end = commandLine.find_first_of(" \t");
  return std::string(commandLine.substr(0, end));
}

bool IsAbsoluteWin32Path(std::string_view path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
    return true;
  }
  return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

bool HoldsPath(std::string_view name) {
  return name.find_first_of("\\/:") != std::string_view::npos;
}

std::optional<std::string> FindProgram(
    std::string_view name, std::string_view moduleDirectory, std::string_view searchPath,
    const std::function<bool(const std::string&)>& exists, const Distrust& distrust,
    const std::function<void(const std::string&, const std::string&)>& skipped) {
  if (name.empty() || HoldsPath(name)) return std::nullopt;
  std::string file(name);
  if (!HasExtension(name)) file += ".exe";
  const auto tryIn = [&](std::string_view directory) -> std::optional<std::string> {
    if (!IsAbsoluteWin32Path(directory)) return std::nullopt;
    std::string candidate = Join(directory, file);
    if (!exists(candidate)) return std::nullopt;
    return candidate;
  };
  if (auto beside = tryIn(moduleDirectory)) return beside;
  std::size_t at = 0;
  while (at <= searchPath.size()) {
    std::size_t end = searchPath.find(';', at);
    if (end == std::string_view::npos) end = searchPath.size();
    const std::string_view entry = Unquoted(searchPath.substr(at, end - at));
    at = end + 1;
    std::optional<std::string> inPath = tryIn(entry);
    if (!inPath) continue;
    // Beside the executable the installer decides what lies; on the path,
    // anybody who can write a folder could.
    const std::optional<std::string> why = distrust ? distrust(*inPath) : std::nullopt;
    if (!why) return inPath;
    if (skipped) skipped(*inPath, *why);
  }
  return std::nullopt;
}

std::optional<std::string> DistrustOf(const std::string& path, const SecurityReader& security) {
  const std::size_t slash = path.find_last_of("\\/");
  std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  if (folder.empty() || folder.back() == ':') folder += '\\';
  for (const std::string& object : {folder, path}) {
    SecurityInfo info;
    const std::uint32_t error = security(object, &info);
    if (error != kErrorSuccess) {
      return "the permissions of " + object + " cannot be read (error " + std::to_string(error) +
             ")";
    }
    if (LetsOthersChange(info)) return object + " can be changed by other users";
  }
  return std::nullopt;
}

#ifdef _WIN32
namespace {

std::string SearchPath() {
  const DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (size == 0) return {};
  std::string value(size, '\0');
  const DWORD length = GetEnvironmentVariableA("PATH", value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::string ModuleDirectory() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      const std::string_view module(path.data(), length);
      const std::size_t slash = module.find_last_of("\\/");
      return slash == std::string_view::npos ? std::string() : std::string(module.substr(0, slash));
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

bool ResolveCommandProgram(const char* commandLine, const SecurityReader& security,
                           std::string* program) {
  program->clear();
  const std::string word = ProgramWord(commandLine != nullptr ? commandLine : "");
  if (HoldsPath(word)) return true;
  const auto distrust = [&](const std::string& candidate) {
    return DistrustOf(candidate, security);
  };
  std::optional<std::string> found =
      FindProgram(word, ModuleDirectory(), SearchPath(), IsFile, distrust);
  if (!found) return false;
  *program = std::move(*found);
  return true;
}

std::string LocateCommandProgram(std::string_view name, const SecurityReader& security,
                                 bool* beside, std::vector<std::string>* skipped) {
  const std::string moduleDirectory = ModuleDirectory();
  const auto distrust = [&](const std::string& candidate) {
    return DistrustOf(candidate, security);
  };
  const auto tell = [&](const std::string& candidate, const std::string& why) {
    if (skipped != nullptr) skipped->push_back("not starting untrusted " + candidate + ": " + why);
  };
  std::optional<std::string> found =
      FindProgram(name, moduleDirectory, SearchPath(), IsFile, distrust, tell);
  if (!found) return {};
  const std::size_t slash = found->find_last_of("\\/");
  *beside = slash != std::string::npos && !moduleDirectory.empty() &&
            EqualIgnoringAsciiCase(std::string_view(*found).substr(0, slash), moduleDirectory);
  return *found;
}
#endif

}  // namespace zw::win32
