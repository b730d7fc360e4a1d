// The run's figures in the Prometheus text format, for a textfile
// collector (node-exporter's, windows_exporter's) to serve; and the reading
// back of the figures a run carries over from the last file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zw {

/// What became of a process the run set out to end; the values of the
/// "result" label, in this order.
enum class TerminationResult { kEnded, kNotEnded, kNotStarted };
inline constexpr std::array<std::string_view, 3> kResultLabels{"ended", "not_ended", "not_started"};

struct MetricsRecord {
  /// time() at this run's start.
  std::int64_t startTime = 0;
  /// The last run that finished: its end and its exit code. Unknown before
  /// the first run at a path has ended.
  std::optional<std::int64_t> endTime;
  std::optional<int> exitCode;
  /// The count of the summary line: the processes of the latest snapshot.
  std::uint32_t processes = 0;
  std::uint32_t watchEntries = 0;
  /// Counters by entry (as a label value: LabelValue) and result; counts
  /// only ever grow, across runs.
  std::map<std::string, std::array<std::uint64_t, 3>> terminations;
};

/// The figures of the run under way, and where they go.
struct MetricsRun {
  /// The file; empty when none was asked for.
  std::string path;
  /// Set once a failed write has been told: one line a run is enough.
  bool failureTold = false;
  MetricsRecord record;
};

/// `name` as valid UTF-8, which label values must be: a byte that does not
/// belong to a valid sequence is read as Latin-1, so distinct names stay
/// distinct and the same name always gives the same value.
std::string LabelValue(std::string_view name);

/// The file's text: HELP and TYPE for every family, the end and exit code
/// only when known, one counter line per entry and result, label values
/// escaped as the format requires.
std::string FormatMetrics(const MetricsRecord& record);

/// The end time, exit code and counters of a text FormatMetrics wrote, for
/// the next run to carry on; every other field is left at its default.
/// Lines of any other shape are skipped.
MetricsRecord ParseMetrics(std::string_view text);

}  // namespace zw
