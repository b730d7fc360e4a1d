#include <gtest/gtest.h>

#include "inventory/process_table.h"
#include "platform/common/perf_data_builder.h"
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
    EXPECT_EQ(run.output.text(),
              "RegQueryValueEx failed ErrorCode: " + std::to_string(error) + "\n");
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
