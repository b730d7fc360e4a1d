// Files the tool writes for others to read, and where its standard streams
// lead.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/linux_platform.h"

namespace zw {
namespace {

// 0, or the errno that stopped the write (EIO where it wrote nothing).
int WriteAll(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = ::write(fd, contents.data(), contents.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    contents.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Where a write to `path` lands: a symbolic link is followed (a few hops,
// dangling or not), so that a collector's directory can point to a file in
// a directory the writer owns.
std::string LinkTarget(std::string path) {
  for (int hop = 0; hop < 8; ++hop) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) break;
    target.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    if (target[0] != '/' && slash != std::string::npos) target = path.substr(0, slash + 1) + target;
    path = std::move(target);
  }
  return path;
}

// The new file is a hidden name beside the target, so that it is on the
// same file system (rename is atomic only there) and a collector that reads
// "*.prom" never picks it up half-written.
std::string TemporaryPattern(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, nameAt) + "." + path.substr(nameAt) + ".XXXXXX";
}

// systemd-cat (Debian 12's, systemd 252) connects a command to the journal
// without naming the stream in JOURNAL_STREAM; the socket's far end tells.
bool IsJournalSocket(int fd) {
  constexpr std::string_view kJournalStdout = "/run/systemd/journal/stdout";
  sockaddr_un peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      peer.sun_family != AF_UNIX || length <= offsetof(sockaddr_un, sun_path)) {
    return false;
  }
  const std::size_t room =
      std::min<std::size_t>(length - offsetof(sockaddr_un, sun_path), sizeof peer.sun_path);
  return std::string_view(peer.sun_path, ::strnlen(peer.sun_path, room)) == kJournalStdout;
}

}  // namespace

std::uint32_t LinuxPlatform::ReplaceFileContents(const char* link, std::string_view contents) {
  const std::string path = LinkTarget(link);
  std::string temporary = TemporaryPattern(path);
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return posix::ErrnoToWin32(errno);
  // mkstemp creates 0600; the file is for other users' collectors to read.
  int error = ::fchmod(fd, 0644) == 0 ? 0 : errno;
  if (error == 0) error = WriteAll(fd, contents);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) == 0) return kErrorSuccess;
  if (error == 0) error = errno;
  ::unlink(temporary.c_str());
  return posix::ErrnoToWin32(error);
}

bool IsJournalStream(StandardStream stream) {
  const int fd = stream == StandardStream::kOutput ? 1 : 2;
  const char* named = std::getenv("JOURNAL_STREAM");
  struct stat status {};
  if (named == nullptr || ::fstat(fd, &status) != 0) return IsJournalSocket(fd);
  // systemd writes "device:inode" in decimal; comparing the text it would
  // write for this stream needs no parsing of what the environment holds.
  char expected[48];
  std::snprintf(expected, sizeof expected, "%" PRIu64 ":%" PRIu64,
                static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino));
  return std::strcmp(named, expected) == 0 || IsJournalSocket(fd);
}

// The journal takes the standard streams, priorities included.
std::unique_ptr<EventLog> MakeEventLog() { return nullptr; }

}  // namespace zw
