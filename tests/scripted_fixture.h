// Shared set-up for tests that run the logic on the scripted platform.
#pragma once

#include <string>
#include <vector>

#include "enforce/run_state.h"
#include "platform/scripted/scripted_platform.h"
#include "state/output.h"

namespace zw::testing {

inline constexpr const char* kWatchListPath = "C:\\WATCH\\ZEITWACHE.INI";

/// A process started `secondsAgo` before the platform's virtual now.
inline ScriptedProcess Proc(const ScriptedPlatform& platform, std::uint32_t pid,
                            std::u16string name, std::int64_t secondsAgo) {
  ScriptedProcess p;
  p.pid = pid;
  p.name = std::move(name);
  p.startedAt = platform.nowMs / 1000 - secondsAgo;
  return p;
}

/// The framing the platform's process object has: Idle first, _Total last.
inline std::vector<ScriptedProcess> Framed(std::vector<ScriptedProcess> processes) {
  std::vector<ScriptedProcess> framed;
  framed.push_back(ScriptedProcess{0, u"Idle", 0, true, {}});
  for (auto& p : processes) framed.push_back(std::move(p));
  framed.push_back(ScriptedProcess{0, u"_Total", 0, true, {}});
  return framed;
}

struct ScriptedRun {
  ScriptedPlatform platform;
  StringOutput output;
  StringOutput errors;  // standard error
  RunState state{platform, output, errors};

  void WatchList(std::string text) { platform.files[kWatchListPath] = std::move(text); }
};

}  // namespace zw::testing
