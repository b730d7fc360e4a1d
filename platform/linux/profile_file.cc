#include "platform/linux/profile_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>

#include "base/ascii.h"
#include "platform/linux/proc_files.h"

namespace zw::posix {
namespace {

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

std::vector<std::string> ListDirectoryAt(int dirFd, const char* directory) {
  std::vector<std::string> names;
  const int fd = ::openat(dirFd, directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
  if (!dir) {
    ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir.get())) names.emplace_back(entry->d_name);
  return names;
}

// `path` split into its directory and its last name.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

// The name under directory `dirFd` (or `directory` with AT_FDCWD) that a
// profile called `base` is read from: `base` itself when it exists, else its
// namesake in another letter case. nullopt when neither exists.
std::optional<std::string> ProfileNameAt(int dirFd, const std::string& directory,
                                         const std::string& base) {
  struct stat info {};
  const std::string at = dirFd == AT_FDCWD ? directory + '/' + base : base;
  if (::fstatat(dirFd, at.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return base;
  if (errno != ENOENT) return base;
  return PickCaseInsensitive(ListDirectoryAt(dirFd, dirFd == AT_FDCWD ? directory.c_str() : "."),
                             base);
}

// Opens the profile `base` under `dirFd` (AT_FDCWD: under `directory`), or
// its namesake in another letter case, into `*fd`. 0 or the errno (ENOENT
// when neither exists). Non-blocking, so that a FIFO in place of the file
// cannot hang the caller.
int OpenProfileAt(int dirFd, const std::string& directory, const std::string& base, int* fd) {
  const std::optional<std::string> name = ProfileNameAt(dirFd, directory, base);
  if (!name) return ENOENT;
  const std::string at = dirFd == AT_FDCWD ? directory + '/' + *name : *name;
  *fd = ::openat(dirFd, at.c_str(), kOpenFlags);
  return *fd < 0 ? errno : 0;
}

// The content of the open profile `fd`, and in `*info` its stamps as they
// were before the read. nullopt when it is no regular file, cannot be read
// or exceeds `limit` bytes.
std::optional<std::string> ReadOpenProfile(int fd, std::size_t limit, struct stat* info) {
  std::string content;
  // The size is checked up front so that a huge file costs no reading; the
  // read is capped as well, for files that grow or do not report a size.
  const bool tooLarge = ::fstat(fd, info) != 0 || !S_ISREG(info->st_mode) ||
                        static_cast<std::size_t>(info->st_size) > limit;
  const int error = tooLarge ? EFBIG : ReadAll(fd, limit + 1, &content);
  if (error != 0 || content.size() > limit) return std::nullopt;
  return content;
}

}  // namespace

std::optional<std::string> PickCaseInsensitive(std::vector<std::string> names,
                                               std::string_view wanted) {
  if (wanted.empty()) return std::nullopt;
  std::sort(names.begin(), names.end());
  for (std::string& name : names) {
    if (EqualIgnoringAsciiCase(name, wanted)) return std::move(name);
  }
  return std::nullopt;
}

FileStamp StampOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::int64_t>(info.st_size), Ns(info.st_mtim), Ns(info.st_ctim)};
}

bool MayChangeUnseen(const FileStamp& stamp, std::int64_t nowNs) {
  const std::int64_t age = nowNs - std::max(stamp.modifiedNs, stamp.changedNs);
  return age < 0 || age < kRacyWindowNs;
}

ProfileCache::~ProfileCache() {
  if (pinFd_ >= 0) ::close(pinFd_);
}

int ProfileCache::PinnedDirectory(const std::string& directory, bool pin) {
  if (!pinned_ && pin) {
    pinned_ = true;
    pinName_ = directory;
    pinFd_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  return directory == pinName_ ? pinFd_ : -1;
}

int ProfileCache::Open(const char* fileName, int* fd, bool pin) {
  if (fileName == nullptr || *fileName == '\0') return ENOENT;
  const auto [directory, base] = SplitPath(fileName);
  const int dirFd = PinnedDirectory(directory, pin);
  return OpenProfileAt(dirFd >= 0 ? dirFd : AT_FDCWD, directory, base, fd);
}

std::optional<std::string> ProfileCache::Resolve(const char* fileName, bool* moved) {
  *moved = false;
  if (fileName == nullptr || *fileName == '\0') return std::nullopt;
  const auto [directory, base] = SplitPath(fileName);
  const int dirFd = PinnedDirectory(directory, true);
  if (dirFd >= 0) {
    struct stat pinned {};
    struct stat named {};
    *moved = ::fstat(dirFd, &pinned) != 0 || ::stat(directory.c_str(), &named) != 0 ||
             pinned.st_dev != named.st_dev || pinned.st_ino != named.st_ino;
  }
  const std::optional<std::string> name =
      ProfileNameAt(dirFd >= 0 ? dirFd : AT_FDCWD, directory, base);
  if (!name) return std::nullopt;
  return directory == "/" ? "/" + *name : directory + '/' + *name;
}

const ProfileIndex* ProfileCache::Load(const char* fileName, std::size_t limit) {
  int fd = -1;
  if (Open(fileName, &fd, true) != 0) return nullptr;
  struct stat info {};
  const bool same = index_ && name_ == fileName;
  if (::fstat(fd, &info) == 0 && same && StampOf(info) == stamp_ &&
      !MayChangeUnseen(stamp_, ClockNs(CLOCK_REALTIME))) {
    ::close(fd);
    return index_.get();
  }
  std::optional<std::string> content = ReadOpenProfile(fd, limit, &info);
  ::close(fd);
  if (!content) {
    index_.reset();
    return nullptr;
  }
  stamp_ = StampOf(info);
  // Stamps that cannot be trusted say nothing: the bytes decide, so the list
  // is parsed once per change whatever its stamps say.
  if (same && *content == content_) return index_.get();
  name_ = fileName;
  content_ = std::move(*content);
  index_ = std::make_unique<ProfileIndex>(content_);
  ++parses_;
  return index_.get();
}

}  // namespace zw::posix
