// Pure parsers for what the kernel publishes under /proc, and the rules that
// turn it into process instances; no I/O here, so each rule is testable on
// literal bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/time_types.h"

namespace zw::posix {

/// The fields of /proc/PID/stat the backend uses. `comm` views the parsed
/// bytes and is only valid as long as they are.
struct ProcStat {
  std::uint32_t pid = 0;
  std::string_view comm;
  char state = 0;
  std::uint32_t flags = 0;        // field 9, the kernel's PF_* bits
  std::uint64_t userTicks = 0;    // field 14, utime
  std::uint64_t kernelTicks = 0;  // field 15, stime
  std::uint32_t threads = 0;      // field 20, num_threads
  std::uint64_t startTicks = 0;   // field 22, starttime, since boot
};

/// nullopt when `bytes` is not a complete stat line up to field 22.
std::optional<ProcStat> ParseStat(std::string_view bytes);

/// False for a process that has ended and only waits to be reaped (Z), or
/// is being torn down (X, and x on older kernels). A process whose main
/// thread has exited shows Z too while its other threads run on: with more
/// than one thread, Z still counts as running. `threads` is num_threads of
/// the same stat line.
bool IsRunningState(char state, std::uint32_t threads);

/// The PF_KTHREAD bit of the flags field.
inline constexpr std::uint32_t kKernelThreadFlag = 0x00200000;

/// True for a kernel thread: it has no command line, and its comm is its
/// whole name.
bool IsKernelThread(std::uint32_t flags);

/// A /proc directory entry that names a process: decimal digits only,
/// within 32 bits, not 0.
std::optional<std::uint32_t> ParsePidName(std::string_view name);

/// The NUL-separated words of /proc/PID/cmdline. A final word without a
/// terminator still counts; an empty text has no words.
std::vector<std::string_view> SplitCmdline(std::string_view bytes);

/// The part of `path` after its last '/'.
std::string_view BaseName(std::string_view path);

/// `name` without its last ".ext"; a leading dot is part of the name.
std::string_view StripExtension(std::string_view name);

/// The kernel keeps at most this many bytes of a program name in `comm`.
inline constexpr std::size_t kCommCutLength = 15;

/// True when `comm` may have been cut, so the command line is worth reading.
bool CommMayBeCut(std::string_view comm);

/// The program's file name: `comm`, or when that may have been cut, the base
/// name of the first command-line word that starts with it (argv[0] is the
/// interpreter for a script). Falls back to `comm`.
std::string_view ProgramName(std::string_view comm, std::string_view cmdline);

/// The longest instance name a slot holds, in bytes: with ".exe" it still
/// fits the slot, so no process drops out of the list for its name.
inline constexpr std::size_t kMaxInstanceNameBytes = 255;

/// `name` cut to kMaxInstanceNameBytes, never inside a UTF-8 sequence.
std::string_view CutInstanceName(std::string_view name);

/// The instance name of a process: ProgramName without its extension, cut
/// by CutInstanceName, so that a list is bounded by its number of processes
/// whatever their command lines hold.
std::string_view InstanceName(std::string_view comm, std::string_view cmdline);

/// Whether the CapEff line of /proc/PID/status holds CAP_KILL; nullopt
/// when there is no readable CapEff line.
std::optional<bool> EffectiveCapKill(std::string_view status);

/// The Tgid line of /proc/PID/status: the process a thread belongs to.
/// nullopt when there is no readable Tgid line.
std::optional<std::uint32_t> StatusTgid(std::string_view status);

/// `ticks` clock ticks in 100-ns units.
FileTime TicksTo100ns(std::uint64_t ticks, std::uint64_t ticksPerSecond);

/// Creation time of a process that started `startTicks` after boot, placed
/// on the wall clock through the boot-time clock read at the same moment as
/// the real-time one (both in ns). nullopt before 1601 or for a zero tick
/// rate.
std::optional<FileTime> StartTicksToFileTime(std::uint64_t startTicks, std::uint64_t ticksPerSecond,
                                             std::int64_t realtimeNs, std::int64_t boottimeNs);

}  // namespace zw::posix
