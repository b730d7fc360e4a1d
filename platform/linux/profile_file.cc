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

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::vector<std::string> ListDirectory(const std::string& directory) {
  std::vector<std::string> names;
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir.get())) names.emplace_back(entry->d_name);
  return names;
}

// Opens `path`, or its namesake in another letter case. -1 when neither.
// Non-blocking, so that a FIFO in place of the file cannot hang the caller.
int OpenProfile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0 || errno != ENOENT) return fd;
  const std::size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::optional<std::string> match = PickCaseInsensitive(ListDirectory(directory), base);
  if (!match) {
    errno = ENOENT;
    return -1;
  }
  return ::open((directory + '/' + *match).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

std::int64_t Ns(const timespec& time) {
  return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

std::int64_t RealtimeNs() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return Ns(now);
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

int OpenProfileFile(const char* fileName) {
  if (fileName == nullptr || *fileName == '\0') {
    errno = ENOENT;
    return -1;
  }
  return OpenProfile(fileName);
}

std::optional<std::string> ReadProfileFile(const char* fileName, std::size_t limit) {
  if (fileName == nullptr || *fileName == '\0') return std::nullopt;
  const int fd = OpenProfile(fileName);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> content = ReadOpenProfile(fd, limit, &info);
  ::close(fd);
  return content;
}

FileStamp StampOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::int64_t>(info.st_size), Ns(info.st_mtim), Ns(info.st_ctim)};
}

bool MayChangeUnseen(const FileStamp& stamp, std::int64_t nowNs) {
  return nowNs - std::max(stamp.modifiedNs, stamp.changedNs) < kRacyWindowNs;
}

const ProfileIndex* ProfileCache::Load(const char* fileName, std::size_t limit) {
  if (fileName == nullptr || *fileName == '\0') return nullptr;
  const int fd = OpenProfile(fileName);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && index_ && name_ == fileName && StampOf(info) == stamp_ &&
      !MayChangeUnseen(stamp_, RealtimeNs())) {
    ::close(fd);
    return index_.get();
  }
  index_.reset();
  const std::optional<std::string> content = ReadOpenProfile(fd, limit, &info);
  ::close(fd);
  if (!content) return nullptr;
  name_ = fileName;
  stamp_ = StampOf(info);
  index_ = std::make_unique<ProfileIndex>(*content);
  return index_.get();
}

}  // namespace zw::posix
