#include "enforce/metrics_file.h"

#include <algorithm>

#include "base/ascii.h"

namespace zw {
namespace {

// Far more than any watch list's counters take; a bigger file is not one
// this tool wrote, and is not read into memory whole.
constexpr std::size_t kMaxCarriedBytes = 1 << 20;

std::string EntryLabel(std::string_view name) {
  std::string upper(name);
  UpperCaseInPlace(upper);
  return LabelValue(upper);
}

void Count(MetricsRecord& record, std::string_view name, TerminationResult result) {
  ++record.terminations[EntryLabel(name)][static_cast<std::size_t>(result)];
}

// The whole file, or nothing when it cannot be read or is too large.
std::string ReadCarried(Platform& platform, const std::string& path) {
  std::string text;
  if (platform.ReadWholeFile(path.c_str(), kMaxCarriedBytes, &text) != kErrorSuccess) return {};
  return text;
}

void WriteMetrics(RunState& state) {
  MetricsRun& metrics = state.metrics;
  if (metrics.path.empty()) return;
  metrics.record.processes = state.inventory.processCount;
  const std::uint32_t error =
      state.platform.ReplaceFileContents(metrics.path.c_str(), FormatMetrics(metrics.record));
  if (error == kErrorSuccess || metrics.failureTold) return;
  metrics.failureTold = true;
  Print(state.errors, "zeitwache: metrics file %.200s cannot be written (error %u)\n",
        metrics.path.c_str(), error);
}

}  // namespace

void StartMetrics(RunState& state, const std::string& path) {
  MetricsRun& metrics = state.metrics;
  metrics.path = path;
  const MetricsRecord carried = ParseMetrics(ReadCarried(state.platform, path));
  metrics.record.endTime = carried.endTime;
  metrics.record.exitCode = carried.exitCode;
  metrics.record.terminations = carried.terminations;
  metrics.record.startTime = state.platform.time();
  WriteMetrics(state);
}

void NoteWatchEntry(RunState& state, unsigned number, std::string_view name) {
  MetricsRecord& record = state.metrics.record;
  if (state.metrics.path.empty()) return;
  record.watchEntries = std::max<std::uint32_t>(record.watchEntries, number);
  record.terminations.try_emplace(EntryLabel(name));
}

void CountTermination(RunState& state, std::string_view name, TerminationResult result) {
  if (state.metrics.path.empty()) return;
  Count(state.metrics.record, name, result);
  WriteMetrics(state);
}

void FinishMetrics(RunState& state, int exitCode) {
  if (state.metrics.path.empty()) return;
  // A run ends once a whole pass has found none of its targets again, so a
  // kill not judged by then has done its work.
  for (const Termination& t : state.terminations.pending) {
    Count(state.metrics.record, t.entry, TerminationResult::kEnded);
  }
  state.metrics.record.endTime = state.platform.time();
  state.metrics.record.exitCode = exitCode;
  WriteMetrics(state);
}

}  // namespace zw
