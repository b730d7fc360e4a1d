// The dry run: one pass over the watch list that tells, entry by entry, what
// the watch run would do now, and acts on nothing.
#include <gtest/gtest.h>

#include "enforce/check.h"
#include "run/run.h"
#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::Framed;
using testing::Proc;
using testing::ScriptedRun;

int DryRun(ScriptedRun& run, std::vector<std::string_view> args = {"zeitwache", "--dry-run"}) {
  return Main(args, run.platform, run.output, run.errors);
}

// Acting on nothing: no command, no pause (the run-time pass only yields),
// no time passing on the virtual clock.
void ExpectNothingDone(const ScriptedPlatform& platform, std::int64_t startMs) {
  EXPECT_TRUE(platform.commandLines.empty());
  for (const std::uint32_t ms : platform.sleeps) EXPECT_EQ(ms, 0u);
  EXPECT_EQ(platform.nowMs, startMs);
}

// Every entry once, in number order up to the end of the list, although the
// first one finds a process; the watch run would start again at entry 1.
// Within an entry, every process a run would end, in the order it takes
// them, up to the one it would wait for; the companion goes with the first.
// A privilege failure comes after the first line, as in any run.
TEST(DryRun, VisitsEveryEntryOnceAndTellsWhatARunWouldDo) {
  ScriptedRun run;
  auto& p = run.platform;
  run.WatchList(
      "[PGM]\nPGM001=APP\nAKT001=60\nPGM002=report\nAKT002=600\nPGM003=GONE\nAKT003=10\n"
      "PGM004=APP\nAKT004=0\nPGM005=APP\nAKT005=60\n");
  p.snapshots = {
      {Framed({Proc(p, 9, u"sammler", 5), Proc(p, 7, u"app", 120), Proc(p, 8, u"report", 30),
               Proc(p, 12, u"app", 200), Proc(p, 15, u"app", 3), Proc(p, 16, u"app", 900)}),
       {}}};
  p.failures[ScriptedOp::kOpenProcessToken] = 5;
  const std::int64_t start = p.nowMs;
  EXPECT_EQ(DryRun(run), 0);
  EXPECT_EQ(run.output.text(),
            "Probelauf: es wird nichts beendet\n"
            "OpenProcessToken failed with 5\n"
            "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
            "Pruefe APP (MaxRunTime = 60)\n"
            "Prozess gefunden APP.EXE, 7 (Laufzeit= 120 Sekunden)\n"
            "Wuerde beenden: APP.EXE, 7\n"
            "Wuerde mitbeenden: SAMMLER.EXE, 9\n"
            "Prozess gefunden APP.EXE, 12 (Laufzeit= 200 Sekunden)\n"
            "Wuerde beenden: APP.EXE, 12\n"
            "Prozess gefunden APP.EXE, 15 (Laufzeit= 3 Sekunden)\n"
            "Wuerde warten\n"
            "Weitere Eintraege erst nach dem Warten auf APP.EXE, 15 (noch 57 Sekunden)\n"
            "Pruefe report (MaxRunTime = 600)\n"
            "Prozess gefunden REPORT.EXE, 8 (Laufzeit= 30 Sekunden)\n"
            "Wuerde warten\n"
            "Pruefe GONE (MaxRunTime = 10)\n"
            "Kein Prozess gefunden\n"
            "Anzahl Prozesse 8\n");
  EXPECT_EQ(p.profileKeys, (std::vector<std::string>{"PGM001", "AKT001", "PGM002", "AKT002",
                                                     "PGM003", "AKT003", "PGM004", "AKT004"}));
  EXPECT_EQ(p.perfQueries, 3);
  ExpectNothingDone(p, start);

  ScriptedRun empty;
  empty.platform.commandProgram = "";
  EXPECT_EQ(DryRun(empty), 0);
  EXPECT_EQ(empty.output.text(),
            "Probelauf: es wird nichts beendet\n"
            "Beenden mit: kein kill gefunden; ein Lauf beendet nichts\nAnzahl Prozesse 0\n");
  EXPECT_NE(empty.errors.text().find("no watch list"), std::string::npos);
}

ScriptedProcess Unopenable(ScriptedProcess process) {
  process.openable = false;
  return process;
}

// The dry run's verdict is the one the check acts out on the same processes.
TEST(DryRun, AgreesWithTheCheck) {
  const ScriptedPlatform clock;  // every scripted platform starts at its time
  struct Case {
    std::string entry;
    std::string limit;
    std::vector<ScriptedProcess> processes;
    std::string told;
    std::vector<std::string> commands;
  } const cases[] = {
      {"APP",
       "120",
       Framed({Proc(clock, 7, u"app", 120)}),
       "Prozess gefunden APP.EXE, 7 (Laufzeit= 120 Sekunden)\nWuerde beenden: APP.EXE, 7\n",
       {"kill 7"}},
      {"app",
       "121",
       Framed({Proc(clock, 7, u"app", 120)}),
       "Prozess gefunden APP.EXE, 7 (Laufzeit= 120 Sekunden)\nWuerde warten\n"
       "Weitere Eintraege erst nach dem Warten auf APP.EXE, 7 (noch 1 Sekunden)\n",
       {}},
      // The companion is terminated once when it is the overdue process.
      {"SAMMLER",
       "60",
       Framed({Proc(clock, 9, u"sammler", 500)}),
       "Prozess gefunden SAMMLER.EXE, 9 (Laufzeit= 500 Sekunden)\n"
       "Wuerde beenden: SAMMLER.EXE, 9\n",
       {"kill 9"}},
      {"*REPORT*",
       "60",
       Framed({Proc(clock, 9, u"sammler", 5), Proc(clock, 20, u"monatsreport", 100)}),
       "Prozess gefunden MONATSREPORT.EXE, 20 (Laufzeit= 100 Sekunden)\n"
       "Wuerde beenden: MONATSREPORT.EXE, 20\nWuerde mitbeenden: SAMMLER.EXE, 9\n",
       {"kill 20", "kill 9"}},
      // Unmeasured, so waited for; still named in upper case.
      {"*REPORT*",
       "60",
       Framed({Unopenable(Proc(clock, 20, u"monatsreport", 100))}),
       "Prozess gefunden MONATSREPORT.EXE, 20 (Laufzeit= 0 Sekunden)\nWuerde warten\n"
       "Weitere Eintraege erst nach dem Warten auf MONATSREPORT.EXE, 20 (noch 60 Sekunden)\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry + " " + c.limit);
    ScriptedRun dry;
    dry.WatchList("[PGM]\nPGM001=" + c.entry + "\nAKT001=" + c.limit + "\n");
    dry.platform.snapshots = {{c.processes, {}}};
    const std::int64_t start = dry.platform.nowMs;
    EXPECT_EQ(DryRun(dry), 0);
    EXPECT_EQ(dry.output.text(),
              "Probelauf: es wird nichts beendet\nBeenden mit: C:\\ZEITWACHE\\kill.exe\nPruefe " +
                  c.entry + " (MaxRunTime = " + c.limit + ")\n" + c.told + "Anzahl Prozesse " +
                  std::to_string(c.processes.size()) + "\n");
    ExpectNothingDone(dry.platform, start);

    ScriptedRun real;
    real.platform.snapshots = {{c.processes, {}}};
    std::string name = c.entry;
    CheckWatchEntry(real.state, name, static_cast<std::uint32_t>(std::stol(c.limit)));
    EXPECT_EQ(real.platform.commandLines, c.commands);
  }
}

}  // namespace
}  // namespace zw
