#include "platform/linux/proc_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>

#include "platform/backend_helpers/utf16.h"

namespace zw::posix {
namespace {

// A stat line is a few hundred bytes; the limit only guards against surprises,
// and a cut line still holds the leading fields that are parsed.
constexpr std::size_t kStatLimit = 4096;
// The program name is among the first words; a longer command line is cut.
constexpr std::size_t kCmdlineLimit = 64 * 1024;
// One page: a stat line, and nearly every command line, fits in one read.
constexpr std::size_t kFirstChunk = 4096;
// Room reserved per instance name; a longer name only grows the block.
constexpr std::size_t kRoomyNameLength = 31;

bool Vanished(int error) { return error == ENOENT || error == ESRCH; }

// "PID" followed by `file`, without printf's cost, paid once per process.
void PidPath(std::uint32_t pid, std::string_view file, char (&path)[32]) {
  char* end = std::to_chars(path, path + 10, pid).ptr;
  end = std::copy(file.begin(), file.end(), end);
  *end = '\0';
}

// Writes what a listing reads into the block and the facts, and passes it on.
class ListingSink : public ProcessSink {
 public:
  ListingSink(PerfDataWriter* block, std::vector<ProcFacts>* facts, ProcessSink* next)
      : block_(block), facts_(facts), next_(next) {}
  void Add(std::uint32_t pid, const ProcStat& stat, std::u16string_view name) override {
    block_->Add(pid, name);
    facts_->push_back(FactsOf(pid, stat));
    if (next_ != nullptr) next_->Add(pid, stat, name);
  }

 private:
  PerfDataWriter* block_;
  std::vector<ProcFacts>* facts_;
  ProcessSink* next_;
};

}  // namespace

PerfDataWriter OpenProcessBlock(std::size_t count) {
  PerfDataWriter block(PerfDataWriter::BlockSize(count + 2, kRoomyNameLength));
  block.Add(0, u"Idle");
  return block;
}

void CloseProcessBlock(PerfDataWriter* block) { block->Add(0, u"_Total"); }

ProcFacts FactsOf(std::uint32_t pid, const ProcStat& stat) {
  return {pid, stat.startTicks, stat.userTicks, stat.kernelTicks, stat.flags};
}

bool NameFromCommandLine(const ProcStat& stat) {
  return CommMayBeCut(stat.comm) && !IsKernelThread(stat.flags);
}

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

int ProcReader::ReadProcFile(int dirFd, const char* path, std::size_t limit,
                             std::vector<char>* buffer, std::string_view* text) {
  *text = {};
  const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  if (buffer->size() < kFirstChunk) buffer->resize(kFirstChunk);
  std::size_t used = 0;
  int error = 0;
  for (;;) {
    if (used == buffer->size()) {
      if (used >= limit) break;
      buffer->resize(std::min(limit, used * 2));
    }
    const ssize_t got = ::read(fd, buffer->data() + used, buffer->size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = errno;
      break;
    }
    used += static_cast<std::size_t>(got);
    // Short of a full buffer, the kernel has handed out all there is.
    if (used < buffer->size()) break;
  }
  ::close(fd);
  *text = std::string_view(buffer->data(), std::min(used, limit));
  return error;
}

int ProcReader::ListProcesses(PerfDataWriter* block, std::vector<ProcFacts>* facts) {
  return ListProcesses(block, facts, nullptr);
}

int ProcReader::ListProcesses(PerfDataWriter* block, std::vector<ProcFacts>* facts,
                              ProcessSink* sink) {
  const std::unique_ptr<DIR, DirCloser> dir(::opendir("/proc"));
  if (!dir) return errno;
  // The pids first, so that what is kept of each is allocated once at its
  // size: a page touched for the first time costs about as much as a read.
  pids_.clear();
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return errno;
      break;
    }
    if (const auto pid = ParsePidName(entry->d_name)) pids_.push_back(*pid);
  }
  // /proc lists processes by rising pid; sorting only guards the lookup.
  if (!std::is_sorted(pids_.begin(), pids_.end())) std::sort(pids_.begin(), pids_.end());
  facts->clear();
  facts->reserve(pids_.size());
  *block = OpenProcessBlock(pids_.size());
  ListingSink listing(block, facts, sink);
  for (const std::uint32_t pid : pids_) ReadProcess(::dirfd(dir.get()), pid, &listing);
  CloseProcessBlock(block);
  return 0;
}

void ProcReader::ReadProcess(int procFd, std::uint32_t pid, ProcessSink* sink) {
  char path[32];
  PidPath(pid, "/stat", path);
  std::string_view text;
  // Whatever stops the read, the process cannot be described: skip it.
  if (ReadProcFile(procFd, path, kStatLimit, &statBuffer_, &text) != 0) return;
  const std::optional<ProcStat> stat = ParseStat(text);
  if (!stat || !IsRunningState(stat->state, stat->threads)) return;
  std::string_view cmdline;
  if (CommMayBeCut(stat->comm) && !IsKernelThread(stat->flags)) {
    PidPath(pid, "/cmdline", path);
    const int error = ReadProcFile(procFd, path, kCmdlineLimit, &cmdlineBuffer_, &cmdline);
    if (Vanished(error)) return;
    // Unreadable for another reason: the process is there, under its comm.
    if (error != 0) cmdline = {};
  }
  sink->Add(pid, *stat, WidenName(InstanceName(stat->comm, cmdline)));
}

std::u16string_view ProcReader::WidenName(std::string_view name) {
  // Nearly every name is ASCII, which widens unit by unit in place.
  if (std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; })) {
    nameBuffer_.assign(name.begin(), name.end());
  } else {
    nameBuffer_ = Utf8ToUtf16(name);
  }
  return nameBuffer_;
}

int ProcReader::ReadStat(std::uint32_t pid, ProcStat* stat) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  std::string_view text;
  const int error = ReadProcFile(AT_FDCWD, path, kStatLimit, &statBuffer_, &text);
  if (error != 0) return error;
  const std::optional<ProcStat> parsed = ParseStat(text);
  if (!parsed) return EINVAL;
  *stat = *parsed;
  return 0;
}

}  // namespace zw::posix
