#include "report/metrics.h"

#include <gtest/gtest.h>

#include "run/run.h"
#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::Framed;
using testing::Proc;
using testing::ScriptedRun;

constexpr const char* kMetricsPath = "C:\\metrics\\zeitwache.prom";

// The samples of a file, without its HELP and TYPE lines.
std::string Samples(const std::string& text) {
  std::string samples;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at) + 1;
    if (text[at] != '#') samples += text.substr(at, end - at);
    at = end;
  }
  return samples;
}

MetricsRecord Record(std::optional<std::int64_t> end, std::optional<int> code, std::string entry) {
  MetricsRecord record;
  record.startTime = 9;
  record.endTime = end;
  record.exitCode = code;
  record.processes = 42;
  record.watchEntries = 3;
  if (!entry.empty()) record.terminations[entry] = {1, 2, 3};
  return record;
}

TEST(Metrics, ExpositionText) {
  const std::string head = "zeitwache_run_start_timestamp_seconds 9\n";
  const std::string gauges = "zeitwache_processes 42\nzeitwache_watch_entries 3\n";
  const auto counters = [](const std::string& label) {
    const std::string line = "zeitwache_terminations_total{entry=\"" + label + "\",result=";
    return line + "\"ended\"} 1\n" + line + "\"not_ended\"} 2\n" + line + "\"not_started\"} 3\n";
  };
  const struct {
    MetricsRecord record;
    std::string samples;
  } cases[] = {
      // No run has ended at this path yet: no end and no exit code.
      {Record({}, {}, ""), head + gauges},
      {Record(7, 101, "APP"),
       head + "zeitwache_run_end_timestamp_seconds 7\nzeitwache_run_exit_code 101\n" + gauges +
           counters("APP")},
      {Record({}, {}, "A\"B\\C\nD"), head + gauges + counters("A\\\"B\\\\C\\nD")},
  };
  for (const auto& c : cases) {
    const std::string text = FormatMetrics(c.record);
    EXPECT_EQ(Samples(text), c.samples);
    EXPECT_NE(text.find("# TYPE zeitwache_terminations_total counter\n"), std::string::npos);
    // What one run writes, the next reads back.
    const MetricsRecord back = ParseMetrics(text);
    EXPECT_EQ(back.terminations, c.record.terminations);
    EXPECT_EQ(back.endTime, c.record.endTime);
    EXPECT_EQ(back.exitCode, c.record.exitCode);
  }
  // A name in a single-byte code page becomes valid UTF-8, the same each time.
  EXPECT_EQ(LabelValue("M\xDCLLER"), "M\xC3\x9CLLER");
  EXPECT_EQ(LabelValue("M\xC3\x9CLLER"), "M\xC3\x9CLLER");
}

// One overdue APP, with or without the metrics file and its failures.
int RunOnce(ScriptedRun& run, std::vector<std::string_view> args, bool killWorks = true) {
  run.WatchList("[PGM]\nPGM001=app\nAKT001=60\n");
  run.platform.killRemovesProcess = killWorks;
  run.platform.snapshots = {{Framed({Proc(run.platform, 7, u"app", 120)}), {}}};
  return Main(args, run.platform, run.output, run.errors);
}

TEST(Metrics, CountersCarryOverFromTheLastFile) {
  const std::string earlier =
      "zeitwache_run_end_timestamp_seconds 123\nzeitwache_run_exit_code 100\n"
      "zeitwache_terminations_total{entry=\"APP\",result=\"ended\"} 4\n"
      "zeitwache_terminations_total{entry=\"OLD\",result=\"not_ended\"} 2\n";
  const struct {
    std::optional<std::string> previous;
    bool killWorks;
    std::vector<std::string> lines;
  } cases[] = {
      {earlier,
       true,
       {"{entry=\"APP\",result=\"ended\"} 5", "{entry=\"OLD\",result=\"not_ended\"} 2"}},
      {earlier,
       false,
       {"{entry=\"APP\",result=\"ended\"} 4", "{entry=\"APP\",result=\"not_ended\"} 1"}},
      // Missing or foreign: the counters start again at 0.
      {std::nullopt, true, {"{entry=\"APP\",result=\"ended\"} 1"}},
      {"zeitwache_terminations_total{entry=\"APP\",result=\"ended\"} x\n",
       true,
       {"{entry=\"APP\",result=\"ended\"} 1"}},
  };
  for (const auto& c : cases) {
    ScriptedRun run;
    if (c.previous) run.platform.files[kMetricsPath] = *c.previous;
    const int code = RunOnce(run, {"zeitwache", "--metrics", kMetricsPath}, c.killWorks);
    const std::string file = run.platform.files[kMetricsPath];
    for (const std::string& line : c.lines) {
      EXPECT_NE(file.find("zeitwache_terminations_total" + line + "\n"), std::string::npos)
          << line << "\n"
          << file;
    }
    EXPECT_NE(file.find("zeitwache_run_exit_code " + std::to_string(code) + "\n"),
              std::string::npos);
    EXPECT_GT(run.platform.fileReplacements, 1);  // at the start and after the termination
  }
}

TEST(Metrics, UnwritableFileIsToldOnceAndChangesNothingElse) {
  ScriptedRun plain;
  ScriptedRun failing;
  failing.platform.failures[ScriptedOp::kReplaceFileContents] = kErrorAccessDenied;
  EXPECT_EQ(RunOnce(plain, {"zeitwache"}), 100);
  EXPECT_EQ(RunOnce(failing, {"zeitwache", "/metrics", kMetricsPath}), 100);
  EXPECT_EQ(failing.output.text(), plain.output.text());
  EXPECT_EQ(failing.errors.text(), std::string("zeitwache: metrics file ") + kMetricsPath +
                                       " cannot be written (error 5)\n");
}

}  // namespace
}  // namespace zw
