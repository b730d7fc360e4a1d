// Reading files, /proc above all; what is read goes to the parsers in
// proc_parse.h. Buffers are kept between calls, so walking thousands of
// processes does not allocate per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/common/perf_data_builder.h"
#include "platform/linux/proc_parse.h"

namespace zw::posix {

/// Reads at most `limit` bytes of `path` (relative to directory `dirFd`)
/// into `*out`. Returns 0, or the errno that stopped it; `*out` then holds
/// what was read before.
int ReadFileAt(int dirFd, const char* path, std::size_t limit, std::string* out);

/// Reads at most `limit` bytes of the open file `fd` into `*out`.
int ReadAll(int fd, std::size_t limit, std::string* out);

class ProcReader {
 public:
  /// Every running process as an instance of the process object, in the
  /// order /proc lists them, framed by "Idle" and "_Total" (pid 0) as the
  /// platform's own process object is. Returns 0 or an errno.
  int ListProcesses(std::vector<PerfProcess>* out);

  /// Reads and parses /proc/`pid`/stat. Returns 0 or an errno (EINVAL when
  /// it cannot be parsed); `stat->comm` is valid until the next call.
  int ReadStat(std::uint32_t pid, ProcStat* stat);

 private:
  void AddProcess(int procFd, std::uint32_t pid, std::vector<PerfProcess>* out);

  std::string statBuffer_;
  std::string cmdlineBuffer_;
};

}  // namespace zw::posix
