// Files the tool writes for others to read, and where its standard streams
// lead.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/command_line.h"
#include "platform/linux/linux_platform.h"

namespace zw {
namespace {

bool WriteAll(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = ::write(fd, contents.data(), contents.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    contents.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The new file is a hidden name beside the target, so that it is on the
// same file system (rename is atomic only there) and a collector that reads
// "*.prom" never picks it up half-written.
std::string TemporaryPattern(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, nameAt) + "." + path.substr(nameAt) + ".XXXXXX";
}

}  // namespace

std::uint32_t LinuxPlatform::ReplaceFileContents(const char* path, std::string_view contents) {
  std::string temporary = TemporaryPattern(path);
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return posix::ErrnoToWin32(errno);
  // mkstemp creates 0600; the file is for other users' collectors to read.
  bool written = ::fchmod(fd, 0644) == 0 && WriteAll(fd, contents) && ::fsync(fd) == 0;
  int error = written ? 0 : errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && ::rename(temporary.c_str(), path) == 0) return kErrorSuccess;
  if (written) error = errno;
  ::unlink(temporary.c_str());
  return posix::ErrnoToWin32(error == 0 ? EIO : error);
}

bool IsJournalStream(StandardStream stream) {
  const char* named = std::getenv("JOURNAL_STREAM");
  struct stat status {};
  if (named == nullptr || ::fstat(stream == StandardStream::kOutput ? 1 : 2, &status) != 0) {
    return false;
  }
  // systemd writes "device:inode" in decimal; comparing the text it would
  // write for this stream needs no parsing of what the environment holds.
  char expected[48];
  std::snprintf(expected, sizeof expected, "%" PRIu64 ":%" PRIu64,
                static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino));
  return std::strcmp(named, expected) == 0;
}

}  // namespace zw
