#include "enforce/check.h"

#include <gtest/gtest.h>

#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::Framed;
using testing::Proc;
using testing::ScriptedRun;

constexpr std::uint32_t kLongLimit = 100000;

struct PrefixCase {
  std::string entry;
  std::int32_t expectedPid;  // -1: no match
};

// Processes in slot order after the Idle instance: slot 3 is NOTES, slot 7
// NOTEPAD.
std::vector<ScriptedProcess> PrefixProcesses(const ScriptedPlatform& p) {
  return Framed({Proc(p, 10, u"System", 50), Proc(p, 11, u"smss", 50), Proc(p, 30, u"notes", 50),
                 Proc(p, 40, u"csrss", 50), Proc(p, 50, u"winlogon", 50),
                 Proc(p, 60, u"explorer", 50), Proc(p, 70, u"notepad", 50)});
}

TEST(Check, MatchesTheFirstProcessWhoseNameBeginsWithTheEntry) {
  const PrefixCase cases[] = {
      {"NOTE", 30},         // slot 3 comes before slot 7
      {"notepad.exe", 70},  // both sides upper-cased
      {"Notepad", 70},
      {"NOTEPAD.EXE.OLD", -1},  // longer than the process name
      {"EXPLORER.EXE", 60},
      {"XYZ", -1},
      // Matching the idle entry first, these name no program and find nothing.
      {"", -1},
      {"I", -1},
      {"idle", -1},
      {"S", 10},
  };
  for (const PrefixCase& c : cases) {
    SCOPED_TRACE(c.entry);
    ScriptedRun run;
    run.state.verbose = 1;
    run.state.listingDone = 1;
    run.platform.snapshots = {{PrefixProcesses(run.platform), {}}};
    std::string name = c.entry;
    const CheckResult result = CheckWatchEntry(run.state, name, kLongLimit);
    if (c.expectedPid == -1) {
      EXPECT_EQ(result, CheckResult::kNoProcess);
      EXPECT_EQ(run.output.text(), "");
    } else {
      EXPECT_EQ(result, CheckResult::kHandled);
      EXPECT_NE(run.output.text().find(", " + std::to_string(c.expectedPid) + " (Laufzeit="),
                std::string::npos)
          << run.output.text();
    }
  }
}

TEST(Check, WaitsBelowTheLimitAndTerminatesAtIt) {
  struct Case {
    std::int64_t runTime;
    std::uint32_t limit;
    bool terminated;
  } const cases[] = {
      {59, 60, false},
      {60, 60, true},  // equal to the limit is overdue
      {61, 60, true},
      {1'000'000, static_cast<std::uint32_t>(-5), false},  // -5 is 4294967291
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.runTime);
    ScriptedRun run;
    run.platform.snapshots = {{Framed({Proc(run.platform, 100, u"app", c.runTime)}), {}}};
    std::string name = "APP";
    EXPECT_EQ(CheckWatchEntry(run.state, name, c.limit), CheckResult::kHandled);
    if (c.terminated) {
      EXPECT_EQ(run.platform.commandLines, std::vector<std::string>{"kill 100"});
      EXPECT_EQ(run.output.text(), "Prozess beendet: APP.EXE, 100  (Laufzeit= " +
                                       std::to_string(c.runTime) + " Sekunden)\n");
      EXPECT_EQ(run.platform.sleeps.back(), 2000u);
    } else {
      EXPECT_TRUE(run.platform.commandLines.empty());
      EXPECT_EQ(run.output.text(), "");
      EXPECT_EQ(run.platform.sleeps.back(), 5000u);
    }
  }
}

TEST(Check, VerboseTraceAndSleepsOfATermination) {
  ScriptedRun run;
  run.state.verbose = 1;
  run.platform.snapshots = {
      {Framed({Proc(run.platform, 100, u"sammler", 10), Proc(run.platform, 200, u"report", 90)}),
       {}}};
  std::string name = "report";
  EXPECT_EQ(CheckWatchEntry(run.state, name, 60), CheckResult::kHandled);
  EXPECT_EQ(run.output.text(),
            "Prozess: /IDLE.EXE/-2/0/REPORT/\n"
            "Prozess: /SAMMLER.EXE/100/10/REPORT/\n"
            "Prozess: /REPORT.EXE/200/90/REPORT/\n"
            "Prozess gefunden REPORT.EXE, 200 (Laufzeit= 90 Sekunden)\n"
            "Prozess beendet: REPORT.EXE, 200  (Laufzeit= 90 Sekunden)\n"
            "Wait 2 sek\n");
  // A yield per process, 100 ms after each command, then the 2 s pause.
  EXPECT_EQ(run.platform.sleeps, (std::vector<std::uint32_t>{0, 0, 0, 0, 100, 100, 2000}));
  EXPECT_EQ(run.platform.commandLines, (std::vector<std::string>{"kill 200", "kill 100"}));
  EXPECT_EQ(name, "REPORT");
  EXPECT_EQ(run.platform.openHandles, 0);
}

TEST(Check, VerboseTraceOfAWait) {
  ScriptedRun run;
  run.state.verbose = 1;
  run.platform.snapshots = {{Framed({Proc(run.platform, 200, u"report", 30)}), {}}};
  std::string name = "REPORT";
  EXPECT_EQ(CheckWatchEntry(run.state, name, 60), CheckResult::kHandled);
  EXPECT_EQ(run.output.text(),
            "Prozess: /IDLE.EXE/-2/0/REPORT/\n"
            "Prozess: /REPORT.EXE/200/30/REPORT/\n"
            "Prozess gefunden REPORT.EXE, 200 (Laufzeit= 30 Sekunden)\n"
            "Wait 5 sek\n");
  EXPECT_EQ(run.platform.sleeps, (std::vector<std::uint32_t>{0, 0, 0, 5000}));
}

TEST(Check, OverdueCompanionIsTerminatedOnce) {
  ScriptedRun run;
  run.platform.snapshots = {{Framed({Proc(run.platform, 100, u"SAMMLER", 500)}), {}}};
  std::string name = "SAMMLER";
  CheckWatchEntry(run.state, name, 60);
  EXPECT_EQ(run.platform.commandLines, (std::vector<std::string>{"kill 100"}));
}

TEST(Check, LaterCompanionWinsAndNoneMeansOneCommand) {
  ScriptedRun run;
  run.platform.snapshots = {
      {Framed({Proc(run.platform, 100, u"sammler", 5), Proc(run.platform, 101, u"Sammler", 5),
               Proc(run.platform, 200, u"app", 500)}),
       {}},
      {Framed({Proc(run.platform, 201, u"app", 500)}), {}}};
  std::string name = "APP";
  CheckWatchEntry(run.state, name, 60);
  CheckWatchEntry(run.state, name, 60);
  EXPECT_EQ(run.platform.commandLines,
            (std::vector<std::string>{"kill 200", "kill 101", "kill 201"}));
}

TEST(Check, ListingStopsForGoodAfterTheFirstMiss) {
  ScriptedRun run;
  run.state.verbose = 1;
  run.platform.snapshots = {{Framed({Proc(run.platform, 200, u"report", 30)}), {}}};
  std::string name = "REPORT";
  CheckWatchEntry(run.state, name, 60);  // waits 5 s
  EXPECT_NE(run.output.text().find("Prozess: /"), std::string::npos);
  std::string missing = "ABSENT";
  EXPECT_EQ(CheckWatchEntry(run.state, missing, 60), CheckResult::kNoProcess);
  EXPECT_EQ(run.state.listingDone, 1);
  run.output.Clear();
  CheckWatchEntry(run.state, name, 60);
  EXPECT_EQ(run.output.text(),
            "Prozess gefunden REPORT.EXE, 200 (Laufzeit= 35 Sekunden)\nWait 5 sek\n");
}

TEST(Check, CommandThatCannotStartIsReportedNotClaimed) {
  ScriptedRun run;
  run.platform.failures[ScriptedOp::kCreateProcess] = kErrorFileNotFound;
  run.platform.snapshots = {
      {Framed({Proc(run.platform, 100, u"sammler", 5), Proc(run.platform, 200, u"app", 500)}), {}}};
  std::string name = "APP";
  EXPECT_EQ(CheckWatchEntry(run.state, name, 60), CheckResult::kHandled);
  EXPECT_EQ(run.output.text(),
            "CreateProcess failed with 2\nProzess nicht beendet: APP.EXE, 200\n"
            "CreateProcess failed with 2\nProzess nicht beendet: SAMMLER.EXE, 100\n");
  EXPECT_EQ(run.platform.commandLines, (std::vector<std::string>{"kill 200", "kill 100"}));
  EXPECT_EQ(run.platform.sleeps, (std::vector<std::uint32_t>{0, 0, 0, 0, 100, 100, 2000}));
}

TEST(Check, PseudoIdentifierAndZeroAreNeverKilled) {
  for (const std::uint32_t pid : {0u, kPseudoPid}) {
    ScriptedRun run;
    std::uint32_t error = 0;
    ProcessRecord slot;
    slot.pid = pid;
    EXPECT_EQ(TerminateByCommand(run.state, slot, "X", &error), TerminateOutcome::kSkipped);
    EXPECT_TRUE(run.platform.commandLines.empty());
    EXPECT_TRUE(run.platform.sleeps.empty());
  }
  ScriptedRun run;
  std::uint32_t error = 0;
  ProcessRecord slot;
  slot.pid = 0x80000001u;
  EXPECT_EQ(TerminateByCommand(run.state, slot, "X", &error), TerminateOutcome::kStarted);
  EXPECT_EQ(run.platform.commandLines, std::vector<std::string>{"kill -2147483647"});
}

TEST(Check, ClockSetBackCountsAsJustStarted) {
  ScriptedRun run;
  run.platform.snapshots = {{Framed({Proc(run.platform, 100, u"app", -3600)}), {}}};
  std::string name = "APP";
  EXPECT_EQ(CheckWatchEntry(run.state, name, 60), CheckResult::kHandled);
  EXPECT_TRUE(run.platform.commandLines.empty());
  EXPECT_EQ(run.state.inventory.processTable[1].runTime, 0);
}

// A slot's earlier run time describes the process it held then; another
// process in that slot, which cannot be opened, must not inherit it.
TEST(Check, NeverActsOnAnotherProcessesRunTime) {
  ScriptedRun run;
  ScriptedProcess newcomer = Proc(run.platform, 100, u"app", 10);
  newcomer.openable = false;
  run.platform.snapshots = {{Framed({Proc(run.platform, 100, u"old", 5000)}), {}},
                            {Framed({newcomer}), {}}};
  std::string old = "OLD";
  CheckWatchEntry(run.state, old, 100000);
  EXPECT_EQ(run.state.inventory.processTable[1].runTime, 5000);
  std::string name = "APP";
  EXPECT_EQ(CheckWatchEntry(run.state, name, 60), CheckResult::kHandled);
  EXPECT_TRUE(run.platform.commandLines.empty());
  EXPECT_EQ(run.state.inventory.processTable[1].runTime, 0);
}

TEST(Check, SameProcessThatCannotBeOpenedKeepsItsRunTime) {
  ScriptedRun run;
  ScriptedProcess later = Proc(run.platform, 100, u"app", 5000);
  later.openable = false;
  run.platform.snapshots = {{Framed({Proc(run.platform, 100, u"app", 5000)}), {}},
                            {Framed({later}), {}}};
  std::string name = "APP";
  CheckWatchEntry(run.state, name, 100000);
  CheckWatchEntry(run.state, name, 60);
  EXPECT_EQ(run.platform.commandLines, std::vector<std::string>{"kill 100"});
}

// Only the current snapshot counts: a companion seen in an earlier, larger
// snapshot is not terminated once it is gone.
TEST(Check, CompanionFromAnEarlierSnapshotIsForgotten) {
  ScriptedRun run;
  std::vector<ScriptedProcess> many;
  for (std::uint32_t pid = 300; pid < 310; ++pid) many.push_back(Proc(run.platform, pid, u"x", 1));
  many.push_back(Proc(run.platform, 100, u"sammler", 1));
  run.platform.snapshots = {{Framed(many), {}},
                            {Framed({Proc(run.platform, 200, u"app", 500)}), {}}};
  std::string none = "ABSENT";
  CheckWatchEntry(run.state, none, 60);
  EXPECT_EQ(run.state.inventory.companionPid, 100u);
  std::string name = "APP";
  CheckWatchEntry(run.state, name, 60);
  EXPECT_EQ(run.state.inventory.companionPid, 0u);
  EXPECT_EQ(run.platform.commandLines, std::vector<std::string>{"kill 200"});
}

}  // namespace
}  // namespace zw
