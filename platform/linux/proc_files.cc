#include "platform/linux/proc_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/common/utf16.h"

namespace zw::posix {
namespace {

// A stat line is a few hundred bytes; the limit only guards against surprises,
// and a cut line still holds the leading fields that are parsed.
constexpr std::size_t kStatLimit = 4096;
// The program name is among the first words; a longer command line is cut.
constexpr std::size_t kCmdlineLimit = 64 * 1024;
constexpr std::size_t kFirstChunk = 4096;

bool Vanished(int error) { return error == ENOENT || error == ESRCH; }

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

int ReadAll(int fd, std::size_t limit, std::string* out) {
  out->clear();
  while (out->size() < limit) {
    const std::size_t at = out->size();
    const std::size_t want = std::min(limit - at, std::max(kFirstChunk, at));
    out->resize(at + want);
    const ssize_t got = ::read(fd, out->data() + at, want);
    const int error = got < 0 ? errno : 0;
    out->resize(at + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    if (error == EINTR) continue;
    if (got <= 0) return error;
  }
  return 0;
}

int ReadFileAt(int dirFd, const char* path, std::size_t limit, std::string* out) {
  out->clear();
  const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  const int error = ReadAll(fd, limit, out);
  ::close(fd);
  return error;
}

int ProcReader::ListProcesses(std::vector<PerfProcess>* out) {
  const std::unique_ptr<DIR, DirCloser> dir(::opendir("/proc"));
  if (!dir) return errno;
  out->clear();
  out->push_back({0, u"Idle"});
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return errno;
      break;
    }
    if (const auto pid = ParsePidName(entry->d_name)) {
      AddProcess(::dirfd(dir.get()), *pid, out);
    }
  }
  out->push_back({0, u"_Total"});
  return 0;
}

void ProcReader::AddProcess(int procFd, std::uint32_t pid, std::vector<PerfProcess>* out) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  // Whatever stops the read, the process cannot be described: skip it.
  if (ReadFileAt(procFd, path, kStatLimit, &statBuffer_) != 0) return;
  const std::optional<ProcStat> stat = ParseStat(statBuffer_);
  if (!stat || !IsRunningState(stat->state)) return;
  std::string_view cmdline;
  if (CommMayBeCut(stat->comm)) {
    std::snprintf(path, sizeof path, "%u/cmdline", pid);
    const int error = ReadFileAt(procFd, path, kCmdlineLimit, &cmdlineBuffer_);
    if (Vanished(error)) return;
    // Unreadable for another reason: the process is there, under its comm.
    if (error == 0) cmdline = cmdlineBuffer_;
  }
  out->push_back({pid, Utf8ToUtf16(InstanceName(stat->comm, cmdline))});
}

int ProcReader::ReadStat(std::uint32_t pid, ProcStat* stat) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  const int error = ReadFileAt(AT_FDCWD, path, kStatLimit, &statBuffer_);
  if (error != 0) return error;
  const std::optional<ProcStat> parsed = ParseStat(statBuffer_);
  if (!parsed) return EINVAL;
  *stat = *parsed;
  return 0;
}

}  // namespace zw::posix
