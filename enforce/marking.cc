#include "enforce/marking.h"

#include <algorithm>

#include "enforce/wildcard.h"

namespace zw {
namespace {

// Titles of windows that run a kill command: their processes are the
// watchdog's own tools at work, never a watched program.
constexpr std::string_view kKillTitlePattern = "*KILL*";

ProcessRecord* FindSlot(ProcessTable& table, std::uint32_t count, std::uint32_t pid) {
  const auto end = table.begin() + std::min<std::size_t>(count, table.size());
  const auto it =
      std::find_if(table.begin(), end, [pid](const ProcessRecord& r) { return r.pid == pid; });
  return it == end ? nullptr : &*it;
}

}  // namespace

bool IsPattern(std::string_view entryName) {
  return entryName.find_first_of("*?") != std::string_view::npos;
}

void CaptureWindows(Platform& platform, ProcessTable& table, std::uint32_t count) {
  const std::size_t end = std::min<std::size_t>(count, table.size());
  for (std::size_t k = 0; k < end; ++k) table[k].titles.clear();
  platform.EnumWindows([&](WindowHandle window) {
    std::uint32_t pid = 0;
    if (platform.GetWindowThreadProcessId(window, &pid) == 0) return true;
    ProcessRecord* slot = FindSlot(table, count, pid);
    // A GUI program's invisible windows ("Default IME", hidden helpers) are
    // enumerated too, often after the window the user sees.
    if (slot == nullptr || !platform.IsWindowVisible(window)) return true;
    slot->window = window;
    char title[kMaxTitleLength + 1] = {};
    const int length = platform.GetWindowTextA(window, title, sizeof title);
    if (length > 0) {
      slot->title.assign(title, std::find(title, title + kMaxTitleLength, '\0'));
      slot->titles.push_back(slot->title);
    }
    return true;
  });
}

void MarkProcesses(Platform& platform, ProcessTable& table, std::uint32_t count,
                   std::string_view pattern) {
  const std::uint32_t ownPid = platform.GetCurrentProcessId();
  const std::size_t end = std::min<std::size_t>(count, table.size());
  for (std::size_t k = 0; k < end; ++k) {
    ProcessRecord& slot = table[k];
    if (slot.pid == ownPid || WildcardMatch(slot.title, kKillTitlePattern)) continue;
    const std::string_view name = slot.name;
    const std::string_view cutName = name.substr(0, name.find('.'));
    const auto titleMatches = [&](const std::string& title) {
      return WildcardMatch(title, pattern);
    };
    if (WildcardMatch(cutName, pattern) || WildcardMatch(name, pattern) ||
        std::any_of(slot.titles.begin(), slot.titles.end(), titleMatches)) {
      slot.mark = 1;
    }
  }
}

}  // namespace zw
