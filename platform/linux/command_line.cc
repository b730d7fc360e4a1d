#include "platform/linux/command_line.h"

#include <cerrno>
#include <utility>

namespace zw::posix {
namespace {

// Consumes the run of backslashes at `*at` and appends what it stands for;
// an escaped quote after it is consumed too, a quoting one is left.
void TakeBackslashes(std::string_view line, std::size_t* at, std::string* word) {
  const std::size_t first = *at;
  while (*at < line.size() && line[*at] == '\\') ++*at;
  const std::size_t count = *at - first;
  if (*at >= line.size() || line[*at] != '"') {
    word->append(count, '\\');
    return;
  }
  word->append(count / 2, '\\');
  if (count % 2 == 1) {
    word->push_back('"');
    ++*at;
  }
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.ends_with('/')) path.push_back('/');
  path.append(name);
  return path;
}

// The directory a command of this system is installed in, next to the
// directory `binDirectory` of the executable: <prefix>/libexec/zeitwache.
std::string InstalledDirectory(std::string_view binDirectory) {
  while (binDirectory.size() > 1 && binDirectory.ends_with('/')) binDirectory.remove_suffix(1);
  const std::size_t slash = binDirectory.rfind('/');
  const std::string_view prefix =
      binDirectory.substr(0, slash == std::string_view::npos ? 0 : slash);
  return std::string(prefix) + "/libexec/zeitwache";
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  std::size_t at = 0;
  while (at < line.size()) {
    const char c = line[at];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(std::exchange(word, {}));
      inWord = false;
      ++at;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      TakeBackslashes(line, &at, &word);
    } else if (c == '"') {
      quoted = !quoted;
      ++at;
    } else {
      word.push_back(c);
      ++at;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::optional<std::string> ResolveProgram(
    std::string_view name, std::string_view ownDirectory, std::string_view searchPath,
    const std::function<bool(const std::string&)>& isExecutable,
    const std::function<bool(const std::string&)>& isTrusted) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string_view::npos) return std::string(name);
  const auto tryIn = [&](std::string_view directory) -> std::optional<std::string> {
    if (!directory.starts_with('/')) return std::nullopt;
    std::string candidate = JoinPath(directory, name);
    if (isExecutable(candidate) && isTrusted(candidate)) return candidate;
    return std::nullopt;
  };
  // The private directory first: beside an executable installed in /usr/bin
  // stands the system's own kill, which only asks a process to end.
  if (ownDirectory.starts_with('/')) {
    if (auto found = tryIn(InstalledDirectory(ownDirectory))) return found;
  }
  if (auto found = tryIn(ownDirectory)) return found;
  std::size_t at = 0;
  while (at <= searchPath.size()) {
    std::size_t end = searchPath.find(':', at);
    if (end == std::string_view::npos) end = searchPath.size();
    const std::string_view directory = searchPath.substr(at, end - at);
    at = end + 1;
    if (auto found = tryIn(directory)) return found;
  }
  return std::nullopt;
}

bool IsOwnProgram(std::string_view program, std::string_view ownDirectory,
                  std::string_view searchPath) {
  const std::size_t slash = program.rfind('/');
  if (!ownDirectory.starts_with('/') || slash == std::string_view::npos) return false;
  std::string_view directory = program.substr(0, slash == 0 ? 1 : slash);
  const auto same = [](std::string_view a, std::string_view b) {
    while (a.size() > 1 && a.ends_with('/')) a.remove_suffix(1);
    while (b.size() > 1 && b.ends_with('/')) b.remove_suffix(1);
    return a == b;
  };
  if (same(directory, InstalledDirectory(ownDirectory))) return true;
  if (!same(directory, ownDirectory)) return false;
  for (std::size_t at = 0; at <= searchPath.size();) {
    std::size_t end = searchPath.find(':', at);
    if (end == std::string_view::npos) end = searchPath.size();
    if (same(searchPath.substr(at, end - at), ownDirectory)) return false;
    at = end + 1;
  }
  return true;
}

}  // namespace zw::posix
