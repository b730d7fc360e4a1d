// The window capture and the marking pass, which match process names and
// window titles against a pattern.
#pragma once

#include <cstdint>
#include <string_view>

#include "inventory/inventory.h"

namespace zw {

/// Records, for every visible top-level window, the window and its title in
/// the slot of the process that owns it (among the first `count` slots).
/// Invisible windows are passed over.
void CaptureWindows(Platform& platform, ProcessTable& table, std::uint32_t count);

/// Sets `mark` to 1 in every one of the first `count` slots whose name cut
/// at its first ".", whole name or the title of any of its visible windows
/// matches `pattern`. The own process, and a process whose last visible
/// window is titled like a kill command, are never marked.
void MarkProcesses(Platform& platform, ProcessTable& table, std::uint32_t count,
                   std::string_view pattern);

/// True when an entry name is a pattern rather than a prefix.
bool IsPattern(std::string_view entryName);

}  // namespace zw
