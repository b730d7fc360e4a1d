// Asking a Windows process to end: window messages and console events.
#include "tools/kill/ask_win32.h"

#include <array>
#include <string>
#include <vector>

namespace zw::kill {
namespace {

// How long the helper that sends Ctrl-Break may take; it only attaches,
// looks and sends.
constexpr DWORD kHelperWaitMs = 5000;
// More processes than this on one console are not "a console of its own".
constexpr DWORD kConsoleListSize = 8;

struct WindowSearch {
  DWORD pid = 0;
  int posted = 0;
};

// Invisible windows (a GUI program's "Default IME" window, hidden helper
// windows) are not what a user would close; message-only windows are not
// enumerated at all.
BOOL CALLBACK PostCloseIfOurs(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  if (GetWindowThreadProcessId(window, &owner) == 0 || owner != search->pid) return TRUE;
  if (!IsWindowVisible(window)) return TRUE;
  if (PostMessageW(window, WM_CLOSE, 0, 0)) ++search->posted;
  return TRUE;
}

int PostCloseToWindows(DWORD pid) {
  WindowSearch search{pid, 0};
  EnumWindows(PostCloseIfOurs, reinterpret_cast<LPARAM>(&search));
  return search.posted;
}

std::wstring OwnPath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return std::wstring(path.data(), length);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// Starts this program again as the Ctrl-Break helper and waits for it.
bool BreakConsoleOf(DWORD pid) {
  const std::wstring self = OwnPath();
  if (self.empty()) return false;
  std::wstring commandLine = L"\"" + self + L"\" ";
  for (const char* c = kConsoleBreakSwitch; *c != '\0'; ++c) commandLine.push_back(*c);
  commandLine += L" " + std::to_wstring(pid);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION helper{};
  // Without a console of its own, the helper can attach to the target's.
  if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                      nullptr, nullptr, &startup, &helper)) {
    return false;
  }
  CloseHandle(helper.hThread);
  DWORD code = 1;
  if (WaitForSingleObject(helper.hProcess, kHelperWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(helper.hProcess, 1);
  } else if (!GetExitCodeProcess(helper.hProcess, &code)) {
    code = 1;
  }
  CloseHandle(helper.hProcess);
  return code == 0;
}

// The helper shares the target's console while it sends; the event must not
// end it before it has detached.
BOOL WINAPI IgnoreBreak(DWORD event) { return event == CTRL_BREAK_EVENT ? TRUE : FALSE; }

}  // namespace

std::string Asked::Describe() const {
  if (closedWindows > 0 && consoleBreak) return "WM_CLOSE and Ctrl-Break";
  return consoleBreak ? "Ctrl-Break" : "WM_CLOSE";
}

Asked AskToEnd(DWORD pid) {
  Asked asked;
  asked.closedWindows = PostCloseToWindows(pid);
  asked.consoleBreak = BreakConsoleOf(pid);
  return asked;
}

int RunConsoleBreak(DWORD pid) {
  if (!AttachConsole(pid)) return 1;
  // Ctrl-Break reaches every process on the console: it is sent only when
  // the console serves the target alone (and, for the moment, this helper).
  std::array<DWORD, kConsoleListSize> attached{};
  const DWORD count = GetConsoleProcessList(attached.data(), kConsoleListSize);
  bool alone = count >= 1 && count <= kConsoleListSize;
  bool targetSeen = false;
  for (DWORD i = 0; alone && i < count; ++i) {
    targetSeen = targetSeen || attached[i] == pid;
    alone = attached[i] == pid || attached[i] == GetCurrentProcessId();
  }
  bool sent = false;
  if (alone && targetSeen && SetConsoleCtrlHandler(IgnoreBreak, TRUE)) {
    sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0) != FALSE;
  }
  FreeConsole();
  return sent ? 0 : 1;
}

}  // namespace zw::kill
