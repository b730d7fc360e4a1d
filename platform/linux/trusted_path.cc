#include "platform/linux/trusted_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <string_view>

namespace zw::posix {
namespace {

// As the kernel's limit on links followed in one lookup.
constexpr int kMaxLinks = 40;

constexpr std::uint32_t kWritableByOthers = S_IWGRP | S_IWOTH;

bool IsLink(std::uint32_t mode) { return (mode & S_IFMT) == S_IFLNK; }
bool IsStickyDirectory(std::uint32_t mode) {
  return (mode & S_IFMT) == S_IFDIR && (mode & S_ISVTX) != 0;
}

// The names of `path` between its slashes, in order, to the front of `names`.
void PushNames(std::string_view path, std::deque<std::string>* names) {
  std::deque<std::string> found;
  std::size_t at = 0;
  while (at < path.size()) {
    std::size_t end = path.find('/', at);
    if (end == std::string_view::npos) end = path.size();
    if (end > at) found.emplace_back(path.substr(at, end - at));
    at = end + 1;
  }
  names->insert(names->begin(), found.begin(), found.end());
}

std::string Parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

int Lstat(const std::string& path, std::vector<PathFacts>* facts) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno;
  facts->push_back({path, info.st_uid, info.st_mode});
  return 0;
}

}  // namespace

std::vector<std::string> TrustFindings(const std::vector<PathFacts>& facts, std::uint32_t euid) {
  if (facts.empty()) return {"nothing to judge"};
  std::vector<std::string> findings;
  for (std::size_t i = 0; i < facts.size(); ++i) {
    const PathFacts& name = facts[i];
    if (name.uid != 0 && name.uid != euid) {
      findings.push_back(name.path + " is owned by user " + std::to_string(name.uid));
      continue;
    }
    // A link's own permissions mean nothing; its owner and directory count.
    if (IsLink(name.mode) || (name.mode & kWritableByOthers) == 0) continue;
    if (IsStickyDirectory(name.mode) && i + 1 < facts.size()) continue;
    findings.push_back(name.path + " is writable by group or others");
  }
  return findings;
}

std::optional<std::string> JudgeTrust(const std::vector<PathFacts>& facts, std::uint32_t euid) {
  std::vector<std::string> findings = TrustFindings(facts, euid);
  if (findings.empty()) return std::nullopt;
  return std::move(findings.front());
}

// Puts the names of the target of link `link` in front of `names`; an
// absolute target sets `current` back to the root, which is already judged.
int FollowLink(const std::string& link, std::string* current, std::deque<std::string>* names) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
  if (length < 0) return errno;
  if (static_cast<std::size_t>(length) >= sizeof target) return ENAMETOOLONG;
  const std::string_view text(target, static_cast<std::size_t>(length));
  // assign(): GCC 12 at -O3 takes `= "/"` here for an overlapping copy.
  if (text.starts_with('/')) current->assign(1, '/');
  PushNames(text, names);
  return 0;
}

int CollectPathFacts(const std::string& path, std::vector<PathFacts>* facts) {
  facts->clear();
  if (!path.starts_with('/')) return EINVAL;
  std::deque<std::string> names;
  PushNames(path, &names);
  std::string current = "/";
  if (const int error = Lstat(current, facts); error != 0) return error;
  int links = 0;
  while (!names.empty()) {
    const std::string name = std::move(names.front());
    names.pop_front();
    if (name == ".") continue;
    // `current` holds no link, so its parent is the real one.
    if (name == "..") {
      current = Parent(current);
      continue;
    }
    const std::string next = Join(current, name);
    if (const int error = Lstat(next, facts); error != 0) return error;
    if (!IsLink(facts->back().mode)) {
      current = next;
      continue;
    }
    if (++links > kMaxLinks) return ELOOP;
    if (const int error = FollowLink(next, &current, &names); error != 0) return error;
  }
  return 0;
}

std::optional<std::string> DistrustOf(const std::string& path, std::uint32_t euid) {
  std::vector<PathFacts> facts;
  if (const int error = CollectPathFacts(path, &facts); error != 0) {
    return "cannot be resolved (" + std::string(std::strerror(error)) + ")";
  }
  return JudgeTrust(facts, euid);
}

}  // namespace zw::posix
