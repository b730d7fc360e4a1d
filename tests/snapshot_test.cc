#include <gtest/gtest.h>

#include "inventory/inventory.h"
#include "platform/backend_helpers/perf_data_builder.h"
#include "platform/perf_layout.h"
#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::Framed;
using testing::Proc;
using testing::ScriptedRun;

std::uint32_t Snapshot(ScriptedRun& run) {
  run.state.inventory.processCount =
      TakeProcessSnapshot(run.platform, run.output, run.state.inventory);
  return run.state.inventory.processCount;
}

TEST(Snapshot, GrowsTheBufferUntilThousandsOfProcessesFit) {
  ScriptedRun run;
  std::vector<ScriptedProcess> many;
  for (std::uint32_t pid = 1; pid <= 5000; ++pid) {
    many.push_back(Proc(run.platform, pid * 4, u"worker" + std::u16string(pid % 5, u'x'), 1));
  }
  run.platform.snapshots = {{Framed(many), {}}};
  const std::size_t blockSize = run.platform.CurrentBlock().size();
  ASSERT_GT(blockSize, 40960u * 5);
  EXPECT_EQ(Snapshot(run), 5002u);
  // One query per 40960-byte step until the block fits.
  EXPECT_EQ(run.platform.perfQueries, static_cast<int>((blockSize + 40959) / 40960));
  const ProcessTable& table = run.state.inventory.processTable;
  EXPECT_EQ(table.front().name, "Idle.exe");
  EXPECT_EQ(table.front().pid, kPseudoPid);
  EXPECT_EQ(table[4999].pid, 4999u * 4);
  EXPECT_EQ(table[4999].name, "workerxxxx.exe");
  EXPECT_EQ(table.back().name, "_Total.exe");
  EXPECT_EQ(table.back().pid, kPseudoPid);
}

std::vector<ScriptedProcess> Workers(const ScriptedPlatform& platform, std::uint32_t count) {
  std::vector<ScriptedProcess> list;
  for (std::uint32_t pid = 1; pid <= count; ++pid) {
    list.push_back(Proc(platform, pid * 4, u"worker" + std::u16string(pid % 5, u'x'), 1));
  }
  return list;
}

// 40960-byte steps a buffer needs to hold `bytes`.
int Steps(std::size_t bytes) { return static_cast<int>((bytes + 40959) / 40960); }

std::size_t BlockSize(const std::vector<ScriptedProcess>& list) {
  std::vector<PerfProcess> instances;
  for (const ScriptedProcess& p : list) instances.push_back({p.pid, p.name});
  return BuildProcessPerfData(instances).size();
}

// Each failed query is a full collection by the system: a check starts at
// the size that fitted at the check before and grows from there.
TEST(Snapshot, StartsWhereTheLastCheckFitted) {
  ScriptedRun run;
  const auto large = Workers(run.platform, 5000);
  const auto small = Workers(run.platform, 10);
  const auto larger = Workers(run.platform, 9000);
  const int largeSteps = Steps(BlockSize(large));
  const int largerSteps = Steps(BlockSize(larger));
  ASSERT_GT(largeSteps, 2);
  ASSERT_GT(largerSteps, largeSteps + 1);
  const struct {
    const char* what;
    const std::vector<ScriptedProcess>& list;
    int queries;
  } checks[] = {
      {"first check grows from 40960 bytes", large, largeSteps},
      {"same list again", large, 1},
      {"list shrunk", small, 1},
      {"list grown past the size that fitted", larger, largerSteps - largeSteps + 1},
      {"grown list again", larger, 1},
  };
  for (const auto& c : checks) run.platform.snapshots.push_back({c.list, {}});
  for (const auto& c : checks) {
    SCOPED_TRACE(c.what);
    const int before = run.platform.perfQueries;
    EXPECT_EQ(Snapshot(run), c.list.size());
    EXPECT_EQ(run.platform.perfQueries - before, c.queries);
    EXPECT_EQ(run.state.inventory.processTable.back().pid, c.list.back().pid);
  }
  // Nothing from one run reaches the next: a new run starts at 40960 bytes.
  ScriptedRun next;
  next.platform.snapshots = {{large, {}}};
  Snapshot(next);
  EXPECT_EQ(next.platform.perfQueries, largeSteps);
}

TEST(Snapshot, FailedQueryKeepsTheSizeThatFitted) {
  ScriptedRun run;
  run.platform.snapshots = {{Workers(run.platform, 5000), {}}};
  Snapshot(run);
  run.platform.failures[ScriptedOp::kRegQueryValueEx] = 5;
  EXPECT_EQ(Snapshot(run), 0u);
  run.platform.failures.clear();
  const int before = run.platform.perfQueries;
  EXPECT_EQ(Snapshot(run), 5000u);
  EXPECT_EQ(run.platform.perfQueries - before, 1);
}

TEST(Snapshot, NamesThatCannotBeConvertedOrDoNotFitAreUnknown) {
  ScriptedRun run;
  const std::u16string fits(255, u'n');
  run.platform.snapshots = {{{Proc(run.platform, 1, u"ok", 1),
                              Proc(run.platform, 2, std::u16string(1, char16_t{0xD800}), 1),
                              Proc(run.platform, 3, fits, 1), Proc(run.platform, 4, fits + u"n", 1),
                              Proc(run.platform, 5, std::u16string(300, u'n'), 1),
                              Proc(run.platform, 6, u"gr\u00fcn", 1)},
                             {}}};
  ASSERT_EQ(Snapshot(run), 6u);
  const ProcessTable& table = run.state.inventory.processTable;
  EXPECT_EQ(table[0].name, "ok.exe");
  EXPECT_EQ(table[1].name, "unknown");
  EXPECT_EQ(table[2].name, std::string(255, 'n') + ".exe");
  EXPECT_EQ(table[3].name, "unknown");
  EXPECT_EQ(table[4].name, "unknown");
  EXPECT_EQ(table[5].name, "gr\xC3\xBCn.exe");
}

TEST(Snapshot, FailedQueryIsReportedAndCountsNothing) {
  for (const std::int32_t error : {5, 2, kErrorMoreData}) {
    SCOPED_TRACE(error);
    ScriptedRun run;
    run.platform.snapshots = {{Framed({Proc(run.platform, 7, u"app", 1)}), {}}};
    ASSERT_EQ(Snapshot(run), 3u);
    run.platform.failures[ScriptedOp::kRegQueryValueEx] = static_cast<std::uint32_t>(error);
    EXPECT_EQ(Snapshot(run), 0u);
    // A provider that keeps asking for more outgrows every buffer: error 8.
    const std::int32_t told = error == kErrorMoreData ? kErrorNotEnoughMemory : error;
    EXPECT_EQ(run.output.text(),
              "RegQueryValueEx failed ErrorCode: " + std::to_string(told) + "\n");
    // The table itself stays as it was.
    EXPECT_EQ(run.state.inventory.processTable.size(), 3u);
  }
}

TEST(Snapshot, ObjectWithoutProcessIdCounterGivesNoProcesses) {
  ScriptedRun run;
  std::vector<PerfProcess> list = {{7, u"app"}};
  auto block = BuildProcessPerfData(list);
  const std::size_t object = perf::Read32(block.data() + perf::kDataBlockHeaderLength);
  perf::Write32(block.data() + object + perf::kObjectSize + perf::kCounterNameTitleIndex, 6);
  run.platform.snapshots = {{{}, block}};
  EXPECT_EQ(Snapshot(run), 0u);
  EXPECT_EQ(run.output.text(), "");
}

TEST(Snapshot, SlotKeepsMeasurementsOnlyForTheSameProcess) {
  const struct {
    const char* what;
    std::uint32_t pid;
    std::u16string name;
    bool kept;
  } cases[] = {
      {"same process", 7, u"app", true},
      {"same process, name in another case", 7, u"APP", true},
      {"identifier reused by another program", 7, u"other", false},
      {"another identifier", 8, u"app", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedRun run;
    run.platform.snapshots = {{{Proc(run.platform, 7, u"app", 1)}, {}},
                              {{Proc(run.platform, c.pid, c.name, 1)}, {}}};
    Snapshot(run);
    ProcessRecord& slot = run.state.inventory.processTable[0];
    slot.runTime = 900;
    slot.title = "Kundenliste";
    slot.window = WindowHandle{5};
    slot.mark = 1;
    Snapshot(run);
    EXPECT_EQ(slot.runTime, c.kept ? 900 : 0);
    EXPECT_EQ(slot.title, c.kept ? "Kundenliste" : "");
    EXPECT_EQ(slot.window, c.kept ? WindowHandle{5} : WindowHandle::kNull);
    EXPECT_EQ(slot.mark, 0);
  }
}

TEST(Snapshot, TableFollowsTheSnapshotSize) {
  ScriptedRun run;
  std::vector<ScriptedProcess> many;
  for (std::uint32_t pid = 1; pid <= 300; ++pid) many.push_back(Proc(run.platform, pid, u"p", 1));
  run.platform.snapshots = {{many, {}}, {{Proc(run.platform, 9, u"q", 1)}, {}}};
  EXPECT_EQ(Snapshot(run), 300u);
  EXPECT_EQ(Snapshot(run), 1u);
  EXPECT_EQ(run.state.inventory.processTable.size(), 1u);
}

}  // namespace
}  // namespace zw
