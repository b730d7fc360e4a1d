// Turning a command line into a program path and its arguments, the way a
// bare command is understood by the platform the tool's interface comes
// from; pure, so the lookup order is testable without a file system.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zw::posix {

/// Words of `line`: blanks and tabs separate them; double quotes group
/// blanks into a word and are removed; 2n backslashes before a quote stand
/// for n backslashes, 2n+1 for n and a literal quote; other backslashes are
/// literal.
std::vector<std::string> SplitCommandLine(std::string_view line);

/// Where program `name` is found. A name with a '/' is used as it is;
/// otherwise it is looked for in its installed place
/// `ownDirectory`/../libexec/zeitwache (`ownDirectory` being the directory of
/// the running executable), then in `ownDirectory` itself (a build tree or an
/// unpacked archive), then in each entry of the colon-separated
/// `searchPath`. Only absolute directories are
/// tried: never the current directory, which may be the watch list's and
/// writable by others, so a relative `ownDirectory` and empty or relative
/// path entries are skipped. A candidate counts when `isExecutable` says so
/// and then `isTrusted` too (see trusted_path.h); an untrusted one is passed
/// over and the lookup goes on. nullopt when none counts.
std::optional<std::string> ResolveProgram(
    std::string_view name, std::string_view ownDirectory, std::string_view searchPath,
    const std::function<bool(const std::string&)>& isExecutable,
    const std::function<bool(const std::string&)>& isTrusted);

/// Whether `program`, as ResolveProgram found it, was installed with the
/// executable in `ownDirectory`: it lies in the private directory, or beside
/// the executable where that directory is not on `searchPath` (/usr/bin,
/// where the system's own kill stands beside it, is).
bool IsOwnProgram(std::string_view program, std::string_view ownDirectory,
                  std::string_view searchPath);

}  // namespace zw::posix
