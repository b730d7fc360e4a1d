#include "enforce/terminate.h"

#include <gtest/gtest.h>

#include <functional>

#include "enforce/check.h"
#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::Framed;
using testing::Proc;
using testing::ScriptedRun;

const std::string kEnded = "Prozess beendet: APP.EXE, 200  (Laufzeit= 500 Sekunden)\n";

struct Case {
  const char* what;
  std::function<void(ScriptedRun&)> setUp;
  int checks;
  std::vector<std::string> commands;
  std::string output;
  CheckResult last;
  std::size_t openCommands = 0;
  std::string entry = "APP";
  std::string errors = "";
};

// APP (pid 200) has run 500 s, over the limit of 60.
void Overdue(ScriptedRun& run, std::vector<ScriptedProcess> more = {}) {
  more.insert(more.begin(), Proc(run.platform, 200, u"app", 500));
  run.platform.snapshots = {{Framed(std::move(more)), {}}};
}

TEST(Termination, EveryProcessIsEndedOnceAndJudgedByWhatTheRunSees) {
  const Case cases[] = {
      {"kill still at work: waited for, no second kill or line",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.commandRunsMs = 5000;
         run.state.verbose = 1;
         run.state.listingDone = 1;
       },
       2,
       {"kill 200"},
       "Prozess gefunden APP.EXE, 200 (Laufzeit= 500 Sekunden)\n" + kEnded +
           "Wait 2 sek\nProzess gefunden APP.EXE, 200 (Laufzeit= 502 Sekunden)\n"
           "Prozess wird beendet: APP.EXE, 200\nWait 2 sek\n",
       CheckResult::kHandled,
       1},
      {"kill ended, process gone",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.killRemovesProcess = true;
       },
       2,
       {"kill 200"},
       kEnded,
       CheckResult::kNoProcess},
      {"what the lookup passed over on the way to kill is told as the kill starts",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.killRemovesProcess = true;
         run.platform.commandPassedOver = {"not starting untrusted C:\\P\\kill.exe: why"};
       },
       2,
       {"kill 200"},
       kEnded,
       CheckResult::kNoProcess,
       0,
       "APP",
       "zeitwache: not starting untrusted C:\\P\\kill.exe: why\n"},
      {"kill ended, process and companion still there, whatever kill said",
       [](ScriptedRun& run) { Overdue(run, {Proc(run.platform, 100, u"sammler", 5)}); },
       3,
       {"kill 200", "kill 100"},
       kEnded + "Prozess nicht beendet: APP.EXE, 200\nProzess nicht beendet: SAMMLER.EXE, 100\n",
       CheckResult::kNoProcess},
      {"a list without processes judges nothing",
       [](ScriptedRun& run) {
         Overdue(run);
         const ScriptedSnapshot full = run.platform.snapshots[0];
         run.platform.snapshots = {full, {}, full};
       },
       3,
       {"kill 200"},
       kEnded + "Prozess nicht beendet: APP.EXE, 200\n",
       CheckResult::kNoProcess},
      {"kill cannot be started",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.failures[ScriptedOp::kCreateProcess] = kErrorFileNotFound;
       },
       2,
       {"kill 200"},
       "CreateProcess failed with 2\nProzess nicht beendet: APP.EXE, 200\n",
       CheckResult::kNoProcess},
      {"kill never ends: given up on after a minute",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.commandRunsMs = 24 * 3600 * 1000;
       },
       31,
       {"kill 200"},
       kEnded + "Prozess nicht beendet: APP.EXE, 200\n",
       CheckResult::kNoProcess},
      {"a kill under way holds up no later match",
       [](ScriptedRun& run) {
         Overdue(run, {Proc(run.platform, 201, u"app", 500)});
         run.platform.commandRunsMs = 5000;
       },
       2,
       {"kill 200", "kill 201"},
       kEnded + "Prozess beendet: APP.EXE, 201  (Laufzeit= 502 Sekunden)\n",
       CheckResult::kHandled,
       2},
      {"a stop asked for while kill starts waits until its line is out",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.killRemovesProcess = true;
         run.platform.onHold = [&run](bool hold) {
           run.output.Write(hold ? "(held)\n" : "(free)\n");
         };
       },
       1,
       {"kill 200"},
       "(held)\n" + kEnded + "(free)\n",
       CheckResult::kHandled,
       1},
      {"a list that cannot be read: two more tries 5 s apart, then no verdict",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.failures[ScriptedOp::kRegQueryValueEx] = kErrorAccessDenied;
       },
       1,
       {},
       "RegQueryValueEx failed ErrorCode: 5\nRegQueryValueEx failed ErrorCode: 5\n"
       "RegQueryValueEx failed ErrorCode: 5\n",
       CheckResult::kNoProcessList},
      {"a list read at the second try",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.failures[ScriptedOp::kRegQueryValueEx] = kErrorAccessDenied;
         run.platform.onSleep = [](ScriptedPlatform& p) { p.failures.clear(); };
       },
       1,
       {"kill 200"},
       "RegQueryValueEx failed ErrorCode: 5\nProzess beendet: APP.EXE, 200  (Laufzeit= 505 "
       "Sekunden)\n",
       CheckResult::kHandled,
       1},
      {"the pid now belongs to a later process, within its limit",
       [](ScriptedRun& run) {
         Overdue(run);
         run.platform.snapshots.push_back({Framed({Proc(run.platform, 200, u"app", 10)}), {}});
       },
       2,
       {"kill 200"},
       kEnded,
       CheckResult::kHandled},
      {"never a target: the watchdog itself, a critical process; the trace says why",
       [](ScriptedRun& run) {
         ScriptedProcess init = Proc(run.platform, 1, u"zinit", 500);
         init.critical = true;
         ScriptedProcess csrss = init;  // protected: a limited query only
         csrss.pid = 5;
         csrss.name = u"zcsrss";
         csrss.queryLimitedOnly = true;
         run.platform.snapshots = {
             {Framed({Proc(run.platform, 4242, u"zeitwache", 500), init, csrss}), {}}};
         run.state.verbose = 1;
         run.state.listingDone = 1;
       },
       1,
       {},
       "Prozess uebergangen: ZEITWACHE.EXE, 4242 (Zeitwache selbst)\n"
       "Prozess uebergangen: ZINIT.EXE, 1 (Systemprozess)\n"
       "Prozess uebergangen: ZCSRSS.EXE, 5 (Systemprozess)\n",
       CheckResult::kNoProcess,
       0,
       "Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedRun run;
    c.setUp(run);
    CheckResult result = CheckResult::kHandled;
    for (int i = 0; i < c.checks; ++i) {
      std::string name = c.entry;
      result = CheckWatchEntry(run.state, name, 60);
    }
    EXPECT_EQ(result, c.last);
    EXPECT_EQ(run.platform.commandLines, c.commands);
    EXPECT_EQ(run.output.text(), c.output);
    EXPECT_EQ(run.platform.OpenCommandHandles(), c.openCommands);
    EXPECT_EQ(run.errors.text(), c.errors);
    // Each command was told the process it is to end; nothing else was.
    for (std::size_t i = 0; i < run.platform.commandTargets.size(); ++i) {
      EXPECT_TRUE(run.platform.commandTargets[i].starts_with(c.commands[i].substr(5) + ":"))
          << run.platform.commandTargets[i];
    }
    EXPECT_FALSE(run.platform.commandTarget.has_value());
  }
}

}  // namespace
}  // namespace zw
