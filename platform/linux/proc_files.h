// Reading files, /proc above all; what is read goes to the parsers in
// proc_parse.h. The kernel formats a /proc file afresh for every open and
// read, so each is opened once and read with one call where it fits; buffers
// are kept between calls, so walking thousands of processes does not
// allocate per process.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend_helpers/perf_data_builder.h"
#include "platform/linux/proc_parse.h"

namespace zw::posix {

/// Closes the directory stream a std::unique_ptr holds.
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

/// `time` in nanoseconds.
inline std::int64_t Ns(const timespec& time) {
  return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

/// The reading of `clock` in nanoseconds.
inline std::int64_t ClockNs(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return Ns(now);
}

/// An empty process block with room for `count` processes, opened by "Idle"
/// (pid 0) as the system's own block is; CloseProcessBlock ends it with
/// "_Total" (pid 0).
PerfDataWriter OpenProcessBlock(std::size_t count);
void CloseProcessBlock(PerfDataWriter* block);

/// Reads at most `limit` bytes of `path` (relative to directory `dirFd`)
/// into `*out`. Returns 0, or the errno that stopped it; `*out` then holds
/// what was read before.
int ReadFileAt(int dirFd, const char* path, std::size_t limit, std::string* out);

/// Reads at most `limit` bytes of the open file `fd` into `*out`.
int ReadAll(int fd, std::size_t limit, std::string* out);

/// What a listing read of one running process, kept so that the process
/// need not be read again to be opened.
struct ProcFacts {
  std::uint32_t pid = 0;
  std::uint64_t startTicks = 0;
  std::uint64_t userTicks = 0;
  std::uint64_t kernelTicks = 0;
  std::uint32_t flags = 0;  // the kernel's PF_* bits
};

/// Takes the processes a listing reads, one by one.
class ProcessSink {
 public:
  virtual ~ProcessSink() = default;
  /// `name` is the instance name, valid until the next read.
  virtual void Add(std::uint32_t pid, const ProcStat& stat, std::u16string_view name) = 0;
};

/// What a listing keeps of one process: `facts` as ListProcesses gives them.
ProcFacts FactsOf(std::uint32_t pid, const ProcStat& stat);

/// Whether the name of a process with `stat` comes from its command line,
/// which can change without the process telling anyone.
bool NameFromCommandLine(const ProcStat& stat);

class ProcReader {
 public:
  /// Writes every running process into `block` as an instance of the
  /// process object, by rising pid, framed by "Idle" and "_Total" (pid 0) as the
  /// platform's own process object is; in `*facts` what was read of each,
  /// sorted by pid. Each /proc/PID/stat is read once; the command line only
  /// where the name in it may have been cut. Returns 0 or an errno.
  int ListProcesses(PerfDataWriter* block, std::vector<ProcFacts>* facts);

  /// The same listing, handing each process to `sink` as well.
  int ListProcesses(PerfDataWriter* block, std::vector<ProcFacts>* facts, ProcessSink* sink);

  /// Reads process `pid` exactly as a listing does (`procFd`: /proc, open)
  /// and hands it to `sink`; nothing when the listing would skip it.
  void ReadProcess(int procFd, std::uint32_t pid, ProcessSink* sink);

  /// Reads and parses /proc/`pid`/stat. Returns 0 or an errno (EINVAL when
  /// it cannot be parsed); `stat->comm` is valid until the next call.
  int ReadStat(std::uint32_t pid, ProcStat* stat);

 private:
  // Reads at most `limit` bytes of `path` under `dirFd` into `*buffer`:
  // one read() when the file fits the buffer, as a /proc file is handed out
  // whole when there is room for it. `*text` views what was read.
  static int ReadProcFile(int dirFd, const char* path, std::size_t limit, std::vector<char>* buffer,
                          std::string_view* text);
  // `name` in UTF-16, valid until the next call.
  std::u16string_view WidenName(std::string_view name);

  std::vector<std::uint32_t> pids_;
  std::vector<char> statBuffer_;
  std::vector<char> cmdlineBuffer_;
  std::u16string nameBuffer_;
};

}  // namespace zw::posix
