// Starting a program without waiting for it, and reaping it once it has
// ended, without ever blocking on it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zw::posix {

/// Starts `path` with `args` (argv[0] included), the caller's environment
/// and current directory; only descriptors 0..2 are passed on. Returns 0
/// with the child in `*pid`, or the errno; a failure of the exec itself is
/// reported here, not just in the child. The child must be reaped with
/// ReapIfEnded.
int StartProgram(const std::string& path, const std::vector<std::string>& args, int* pid);

/// Reaps child `pid` if it has ended, without waiting: its exit code, or 128
/// + the signal that ended it; 1 when it is no child of this process (any
/// more). nullopt while it runs.
std::optional<std::uint32_t> ReapIfEnded(int pid);

/// Waits for child `pid` to end and reaps it; the exit code as ReapIfEnded
/// gives it.
std::uint32_t WaitForEnd(int pid);

}  // namespace zw::posix
