// Whether a file may be trusted: a program found by the lookup, which runs
// with the watchdog's rights (root's, as a rule), or the watch list, which
// decides what is ended. Only if no one but root and the user running the
// watchdog can have put it there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zw::posix {

/// What lstat tells about one name looked at while a path is resolved.
struct PathFacts {
  std::string path;        // the real path of the name, no link in it
  std::uint32_t uid = 0;   // st_uid
  std::uint32_t mode = 0;  // st_mode, file type bits included
};

/// Why the names a path passes through make it untrusted for user `euid`;
/// nullopt when they do not. `facts` are every directory looked into, each
/// symbolic link followed and the file reached, in the order they are met,
/// the file last. Each must be owned by root or `euid`; none but a link may
/// be writable by group or others, except a sticky directory other than the
/// last name: in it no one may replace what another owns, and what is
/// looked up in it is itself among `facts`, so its owner is checked.
std::optional<std::string> JudgeTrust(const std::vector<PathFacts>& facts, std::uint32_t euid);

/// Every reason JudgeTrust could give, one per name, in the order met.
std::vector<std::string> TrustFindings(const std::vector<PathFacts>& facts, std::uint32_t euid);

/// Resolves the absolute `path` name by name as the kernel does, links
/// included, and collects the PathFacts of every name met on the way, the
/// root first and the file last. Returns 0, or the errno when a name is
/// missing, a link loops, or the path is not absolute.
int CollectPathFacts(const std::string& path, std::vector<PathFacts>* facts);

/// The reason `path` is not to be started by user `euid`, read from the file
/// system; nullopt when it may be.
std::optional<std::string> DistrustOf(const std::string& path, std::uint32_t euid);

}  // namespace zw::posix
