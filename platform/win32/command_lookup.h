// Where the Win32 backend finds the program of a command started without an
// application name. CreateProcessA's own search looks in the current
// directory, which is the watch list's and may be writable by others; this
// lookup never does. Pure, so that the order is testable on any system.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zw::win32 {

/// The program name of `commandLine` as CreateProcessA reads it: the text
/// in the leading double quotes, or up to the first blank or tab.
std::string ProgramWord(std::string_view commandLine);

/// True for "C:\dir" (a drive and a root) and "\\server\share".
bool IsAbsoluteWin32Path(std::string_view path);

/// True when `name` says where the program is (a separator or a drive):
/// then it is not looked for.
bool HoldsPath(std::string_view name);

/// The full path of the program called `name` (which holds no path): `name`,
/// given ".exe" when it has no extension, beside the running executable in
/// `moduleDirectory`, then in each absolute entry of the ';'-separated
/// `searchPath`; never in the current directory, nor in a relative entry. A
/// candidate counts when `exists` says so; nullopt when none does.
std::optional<std::string> FindProgram(std::string_view name, std::string_view moduleDirectory,
                                       std::string_view searchPath,
                                       const std::function<bool(const std::string&)>& exists);

#ifdef _WIN32
/// The application name CreateProcessA is to be given for `commandLine`
/// when the caller gives none: FindProgram's answer on this system, in
/// `*program`. `*program` stays empty when the command line's program
/// holds a path (CreateProcessA then searches nowhere). False when the
/// program is found nowhere.
bool ResolveCommandProgram(const char* commandLine, std::string* program);

/// FindProgram's answer for the bare program `name` on this system, empty
/// when none is found; `*beside` tells whether it stands beside the running
/// executable, where this program's own commands are installed.
std::string LocateCommandProgram(std::string_view name, bool* beside);
#endif

}  // namespace zw::win32
