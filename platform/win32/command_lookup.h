// Where the Win32 backend finds the program of a command started without an
// application name. CreateProcessA's own search looks in the current
// directory, which is the watch list's and may be writable by others; this
// lookup never does. Pure, so that the order is testable on any system.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/file_dacl.h"

namespace zw::win32 {

/// Why a program must not be started (nullopt: it may be).
using Distrust = std::function<std::optional<std::string>(const std::string& program)>;

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
/// candidate counts when `exists` says so and, found on the path, when
/// `distrust` (if given) has nothing against it; an untrusted one is passed
/// to `skipped` with the reason, and the search goes on. nullopt when none
/// counts.
std::optional<std::string> FindProgram(
    std::string_view name, std::string_view moduleDirectory, std::string_view searchPath,
    const std::function<bool(const std::string&)>& exists, const Distrust& distrust = {},
    const std::function<void(const std::string&, const std::string&)>& skipped = {});

/// What speaks against starting the program at `path`: that it, or the
/// folder that holds it, can be changed by anybody but the administrators,
/// the system and the caller (LetsOthersChange), or that either's DACL
/// cannot be read. nullopt when nothing does.
std::optional<std::string> DistrustOf(const std::string& path, const SecurityReader& security);

#ifdef _WIN32
/// The folder of the running executable; empty when it cannot be told.
std::string ModuleDirectory();

/// The application name CreateProcessA is to be given for `commandLine`
/// when the caller gives none: FindProgram's answer on this system, in
/// `*program`. `*program` stays empty when the command line's program
/// holds a path (CreateProcessA then searches nowhere). False when the
/// program is found nowhere. A program found on PATH is judged by
/// DistrustOf with `security`; an untrusted one is skipped.
bool ResolveCommandProgram(const char* commandLine, const SecurityReader& security,
                           std::string* program);

/// The program a run would start for the bare program `name`: FindProgram's
/// answer on this system with the same judgement of PATH entries; empty
/// when none is found. `*beside` tells whether it stands beside the running
/// executable, where this program's own commands are installed. Each
/// untrusted one skipped is a line in `*skipped` (nullptr: not wanted).
std::string LocateCommandProgram(std::string_view name, const SecurityReader& security,
                                 bool* beside, std::vector<std::string>* skipped);
#endif

}  // namespace zw::win32
