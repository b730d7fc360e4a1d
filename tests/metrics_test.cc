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
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at) + 1;
    if (text[at] != '#') samples += text.substr(at, end - at);
    at = end;
  }
  return samples;
}

MetricsRecord Record(std::int64_t start, std::optional<std::int64_t> end, std::optional<int> code,
                     std::uint32_t processes, std::uint32_t entries, std::string entry = {},
                     std::array<std::uint64_t, 3> counts = {}) {
  MetricsRecord record;
  record.startTime = start;
  record.endTime = end;
  record.exitCode = code;
  record.processes = processes;
  record.watchEntries = entries;
  if (!entry.empty()) record.terminations[entry] = counts;
  return record;
}

TEST(Metrics, ExpositionText) {
  const std::string tail = "zeitwache_processes 0\nzeitwache_watch_entries 0\n";
  const struct {
    MetricsRecord record;
    std::string samples;
  } cases[] = {
      // No run has ended at this path yet: no end and no exit code.
      {Record(5, {}, {}, 0, 0), "zeitwache_run_start_timestamp_seconds 5\n" + tail},
      {Record(9, 7, 101, 42, 3, "APP", {1, 2, 3}),
       "zeitwache_run_start_timestamp_seconds 9\nzeitwache_run_end_timestamp_seconds 7\n"
       "zeitwache_run_exit_code 101\nzeitwache_processes 42\nzeitwache_watch_entries 3\n"
       "zeitwache_terminations_total{entry=\"APP\",result=\"ended\"} 1\n"
       "zeitwache_terminations_total{entry=\"APP\",result=\"not_ended\"} 2\n"
       "zeitwache_terminations_total{entry=\"APP\",result=\"not_started\"} 3\n"},
      {Record(1, {}, {}, 0, 0, "A\"B\\C\nD"),
       "zeitwache_run_start_timestamp_seconds 1\n" + tail +
           "zeitwache_terminations_total{entry=\"A\\\"B\\\\C\\nD\",result=\"ended\"} 0\n"
           "zeitwache_terminations_total{entry=\"A\\\"B\\\\C\\nD\",result=\"not_ended\"} 0\n"
           "zeitwache_terminations_total{entry=\"A\\\"B\\\\C\\nD\",result=\"not_started\"} 0\n"},
  };
  for (const auto& c : cases) {
    const std::string text = FormatMetrics(c.record);
    EXPECT_EQ(Samples(text), c.samples);
    EXPECT_EQ(text.find("# TYPE zeitwache_terminations_total counter\n") == std::string::npos,
              false);
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

// One overdue APP, ended or not, after what an earlier run left at the path.
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
    auto& p = run.platform;
    run.WatchList("[PGM]\nPGM001=app\nAKT001=60\n");
    if (c.previous) p.files[kMetricsPath] = *c.previous;
    p.killRemovesProcess = c.killWorks;
    p.snapshots = {{Framed({Proc(p, 7, u"app", 120)}), {}}};
    const int code = Main(std::vector<std::string_view>{"zeitwache", "--metrics", kMetricsPath}, p,
                          run.output, run.errors);
    const std::string file = p.files[kMetricsPath];
    for (const std::string& line : c.lines) {
      EXPECT_NE(file.find("zeitwache_terminations_total" + line + "\n"), std::string::npos)
          << line << "\n"
          << file;
    }
    EXPECT_NE(file.find("zeitwache_run_exit_code " + std::to_string(code) + "\n"),
              std::string::npos);
    EXPECT_GT(p.fileReplacements, 1);  // at the start and after the termination
  }
}

TEST(Metrics, UnwritableFileIsToldOnceAndChangesNothingElse) {
  ScriptedRun plain;
  ScriptedRun failing;
  for (ScriptedRun* run : {&plain, &failing}) {
    run->WatchList("[PGM]\nPGM001=APP\nAKT001=60\n");
    run->platform.killRemovesProcess = true;
    run->platform.snapshots = {{Framed({Proc(run->platform, 7, u"app", 120)}), {}}};
  }
  failing.platform.failures[ScriptedOp::kReplaceFileContents] = kErrorAccessDenied;
  EXPECT_EQ(
      Main(std::vector<std::string_view>{"zeitwache"}, plain.platform, plain.output, plain.errors),
      100);
  EXPECT_EQ(Main(std::vector<std::string_view>{"zeitwache", "/metrics", kMetricsPath},
                 failing.platform, failing.output, failing.errors),
            100);
  EXPECT_EQ(failing.output.text(), plain.output.text());
  EXPECT_EQ(failing.errors.text(), std::string("zeitwache: metrics file ") + kMetricsPath +
                                       " cannot be written (error 5)\n");
}

}  // namespace
}  // namespace zw
