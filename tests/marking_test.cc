#include "enforce/marking.h"

#include <gtest/gtest.h>

#include "enforce/check.h"
#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::Framed;
using testing::Proc;
using testing::ScriptedRun;

// Processes: 10 BATCH01.EXE with an invisible window "kill 10", 11
// FAKTURA.EXE with the windows "Kundenliste Nord" and "Rechnung 4711" and
// an invisible "Default IME", 12 MONATSREPORT.EXE, 13 the watchdog itself,
// 14 a console titled "kill 12".
ScriptedRun& Scripted(ScriptedRun& run) {
  auto& p = run.platform;
  p.currentProcessId = 13;
  p.snapshots = {{Framed({Proc(p, 10, u"batch01", 50), Proc(p, 11, u"faktura", 50),
                          Proc(p, 12, u"monatsreport", 50), Proc(p, 13, u"zeitwache", 50),
                          Proc(p, 14, u"cmd", 50)}),
                  {}}};
  p.windows = {{WindowHandle{0x501}, 11, "Kundenliste Nord"},
               {WindowHandle{0x507}, 11, "Rechnung 4711"},
               {WindowHandle{0x508}, 11, "Default IME", false},
               {WindowHandle{0x509}, 10, "kill 10", false},
               {WindowHandle{0x502}, 14, "kill 12"},
               {WindowHandle{0x503}, 999, "no such process"},
               {WindowHandle{0x504}, 13, "ZEITWACHE"}};
  return run;
}

TEST(PatternEntry, MatchesByCutNameFullNameOrTitle) {
  const struct {
    std::string entry;
    std::int32_t expectedPid;  // -1: no match
  } cases[] = {
      {"BATCH??", 10},        // cut name BATCH01; an invisible "kill" title spares nothing
      {"batch??", 10},        // entry names are upper-cased
      {"*01.EXE", 10},        // full name
      {"*.EXE", -1},          // matches the idle entry first: names no program
      {"*KUNDENLISTE*", 11},  // window title, not its last one
      {"*RECHNUNG*", 11},     // any visible window's title
      {"*DEFAULT IME*", -1},  // invisible windows are not seen
      {"*REPORT*", 12},
      {"MONATS[P-S]EPORT*", 12},
      {"MONATS[P-S]EPORT", -1},  // no "*" or "?": a prefix, and none begins so
      {"ZEIT*", -1},             // the own process is never marked
      {"CMD*", -1},              // a "kill" window excludes its process
      {"BATCH?", -1},
      {"*NO SUCH*", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    ScriptedRun run;
    Scripted(run);
    run.state.verbose = 1;
    run.state.listingDone = 1;
    std::string name = c.entry;
    const CheckResult result = CheckWatchEntry(run.state, name, 100000);
    if (c.expectedPid == -1) {
      EXPECT_EQ(result, CheckResult::kNoProcess);
    } else {
      EXPECT_EQ(result, CheckResult::kHandled);
      EXPECT_NE(run.output.text().find(", " + std::to_string(c.expectedPid) + " (Laufzeit="),
                std::string::npos)
          << run.output.text();
    }
  }
}

TEST(PatternEntry, OverduePatternMatchIsTerminated) {
  ScriptedRun run;
  Scripted(run);
  std::string name = "*report*";
  EXPECT_EQ(CheckWatchEntry(run.state, name, 30), CheckResult::kHandled);
  EXPECT_EQ(run.platform.commandLines, std::vector<std::string>{"kill 12"});
  EXPECT_EQ(run.output.text(), "Prozess beendet: MONATSREPORT.EXE, 12  (Laufzeit= 50 Sekunden)\n");
}

TEST(PatternEntry, PrefixEntriesIgnoreMarksAndTitles) {
  ScriptedRun run;
  Scripted(run);
  std::string name = "KUNDENLISTE";
  EXPECT_EQ(CheckWatchEntry(run.state, name, 30), CheckResult::kNoProcess);
  std::string zeit = "ZEIT";  // a prefix entry may name the own process, passed over
  EXPECT_EQ(CheckWatchEntry(run.state, zeit, 100000), CheckResult::kNoProcess);
  for (const ProcessRecord& slot : run.state.inventory.processTable) EXPECT_EQ(slot.mark, 0);
}

TEST(WindowCapture, RecordsWindowAndTitleOfKnownProcesses) {
  ScriptedRun run;
  Scripted(run);
  run.platform.windows.push_back({WindowHandle{0x505}, 11, std::string(100, 'T')});
  run.platform.windows.push_back({WindowHandle{0x506}, 10, ""});
  ProcessTable& table = run.state.inventory.processTable;
  run.state.inventory.processCount =
      TakeProcessSnapshot(run.platform, run.output, run.state.inventory);
  CaptureWindows(run.platform, table, run.state.inventory.processCount);
  EXPECT_EQ(table[2].window, WindowHandle{0x505});  // the last window seen
  EXPECT_EQ(table[2].title, std::string(63, 'T'));
  EXPECT_EQ(table[1].window, WindowHandle{0x506});
  EXPECT_EQ(table[1].title, "");
  EXPECT_EQ(table[5].title, "kill 12");
}

TEST(WindowCapture, WindowWhoseProcessCannotBeTakenIsSkipped) {
  ScriptedRun run;
  Scripted(run);
  run.platform.failures[ScriptedOp::kGetWindowThreadProcessId] = kErrorInvalidWindowHandle;
  std::string name = "*KUNDENLISTE*";
  EXPECT_EQ(CheckWatchEntry(run.state, name, 100000), CheckResult::kNoProcess);
  for (const ProcessRecord& slot : run.state.inventory.processTable) {
    EXPECT_EQ(slot.window, WindowHandle::kNull);
  }
}

}  // namespace
}  // namespace zw
