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

bool Lstat(const std::string& path, std::vector<PathFacts>* facts, int* error) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    *error = errno;
    return false;
  }
  facts->push_back({path, info.st_uid, info.st_mode});
  return true;
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

std::string JudgeTrust(const std::vector<PathFacts>& facts, std::uint32_t euid) {
  const std::vector<std::string> findings = TrustFindings(facts, euid);
  return findings.empty() ? std::string() : findings.front();
}

// Puts the names of the target of link `link` in front of `names`; an
// absolute target sets `current` back to the root, which is already judged.
bool FollowLink(const std::string& link, std::string* current, std::deque<std::string>* names,
                int* error) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof target) {
    *error = length < 0 ? errno : ENAMETOOLONG;
    return false;
  }
  const std::string_view text(target, static_cast<std::size_t>(length));
  // assign(): GCC 12 at -O3 takes `= "/"` here for an overlapping copy.
  if (text.starts_with('/')) current->assign(1, '/');
  PushNames(text, names);
  return true;
}

bool CollectPathFacts(const std::string& path, std::vector<PathFacts>* facts, int* error) {
  facts->clear();
  if (!path.starts_with('/')) {
    *error = EINVAL;
    return false;
  }
  std::deque<std::string> names;
  PushNames(path, &names);
  std::string current = "/";
  if (!Lstat(current, facts, error)) return false;
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
    if (!Lstat(next, facts, error)) return false;
    if (!IsLink(facts->back().mode)) {
      current = next;
      continue;
    }
    if (++links > kMaxLinks) {
      *error = ELOOP;
      return false;
    }
    if (!FollowLink(next, &current, &names, error)) return false;
  }
  return true;
}

std::string DistrustOf(const std::string& path, std::uint32_t euid) {
  std::vector<PathFacts> facts;
  int error = 0;
  if (!CollectPathFacts(path, &facts, &error)) {
    return "cannot be resolved (" + std::string(std::strerror(error)) + ")";
  }
  return JudgeTrust(facts, euid);
}

}  // namespace zw::posix
