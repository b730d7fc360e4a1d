// How kill.exe asks a process to end before it terminates it: WM_CLOSE to
// the windows a user sees, Ctrl-Break to a console the process has to
// itself. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace zw::kill {

/// Started as `kill.exe <kConsoleBreakSwitch> <pid>`, kill.exe only sends
/// Ctrl-Break to the console of process <pid> (see RunConsoleBreak).
inline constexpr char kConsoleBreakSwitch[] = "--console-break";

/// What was asked of a process.
struct Asked {
  int closedWindows = 0;      // windows WM_CLOSE was posted to
  bool consoleBreak = false;  // Ctrl-Break went to its console
  bool Any() const { return closedWindows > 0 || consoleBreak; }
  /// "WM_CLOSE", "Ctrl-Break" or both, for the line that says it had to force.
  std::string Describe() const;
};

/// Posts WM_CLOSE to every visible top-level window of process `pid` and
/// sends Ctrl-Break to its console when no other process shares it. Does
/// not wait for the process.
Asked AskToEnd(DWORD pid);

/// The helper's work: attaches to the console of `pid`, and sends Ctrl-Break
/// to it when it serves `pid` alone. Returns 0 once sent, 1 otherwise. Run
/// in a process of its own, started without a console, so that the caller's
/// console is never given up and no Ctrl-Break reaches the caller.
int RunConsoleBreak(DWORD pid);

}  // namespace zw::kill
