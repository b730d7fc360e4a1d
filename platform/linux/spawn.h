// Starting a program without waiting for it, and reaping it once it has
// ended, without ever blocking on it.
#pragma once

#include <string>
#include <vector>

namespace zw::posix {

struct StartResult {
  int pid = -1;   // the started process, -1 on failure
  int error = 0;  // errno of the failure
};

/// Starts `path` with `args` (argv[0] included), the caller's environment
/// and current directory; only descriptors 0..2 are passed on. A failure of
/// the exec itself is reported here, not just in the child. The child must
/// be reaped with ReapEnded.
StartResult StartProgram(const std::string& path, const std::vector<std::string>& args);

/// Reaps those of `children` that have ended and removes them, together
/// with any that are no longer children of this process.
void ReapEnded(std::vector<int>* children);

}  // namespace zw::posix
