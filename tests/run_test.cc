#include "run/run.h"

#include <gtest/gtest.h>

#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::Framed;
using testing::kWatchListPath;
using testing::Proc;
using testing::ScriptedRun;

int RunMain(ScriptedRun& run, std::vector<std::string_view> args = {"zeitwache"}) {
  return Main(args, run.platform, run.output, run.errors);
}

std::vector<std::string> TraceLines(const std::string& text, std::string_view prefix) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    if (line.starts_with(prefix)) lines.push_back(line);
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

TEST(CommandLine, SwitchesAndModes) {
  const std::string longArgument(100000, 'D');
  const struct {
    std::vector<std::string_view> args;
    int verbose;
    Mode mode;
    std::optional<std::string> checkFile = std::nullopt;
  } cases[] = {
      {{"zeitwache"}, 0, Mode::kWatch},
      {{"zeitwache", "/D"}, 1, Mode::kWatch},
      {{"zeitwache", "-D"}, 1, Mode::kWatch},
      {{"zeitwache", "/d"}, 1, Mode::kWatch},
      {{"zeitwache", "x", "-d", "y"}, 1, Mode::kWatch},
      {{"/D"}, 1, Mode::kWatch},  // the program name is examined too
      {{"zeitwache", "--help"}, 0, Mode::kHelp},
      {{"zeitwache", "-h"}, 0, Mode::kHelp},
      {{"zeitwache", "-?"}, 0, Mode::kHelp},
      {{"zeitwache", "/?"}, 0, Mode::kHelp},
      {{"zeitwache", "--version"}, 0, Mode::kVersion},
      {{"zeitwache", "--dry-run"}, 0, Mode::kDryRun},
      {{"zeitwache", "/D", "--dry-run"}, 1, Mode::kDryRun},
      // Precedence: help, then version, then the dry run, in any order.
      {{"zeitwache", "--dry-run", "--version"}, 0, Mode::kVersion},
      {{"zeitwache", "--dry-run", "/?"}, 0, Mode::kHelp},
      {{"zeitwache", "-h", "--version", "/D"}, 1, Mode::kHelp},
      // Ignored, as every argument the tool does not know.
      {{"zeitwache", "/DEBUG"}, 0, Mode::kWatch},
      {{"zeitwache", "D"}, 0, Mode::kWatch},
      {{"zeitwache", "/"}, 0, Mode::kWatch},
      {{"zeitwache", ""}, 0, Mode::kWatch},
      {{"zeitwache", longArgument}, 0, Mode::kWatch},
      {{"zeitwache", "/h"}, 0, Mode::kWatch},
      {{"zeitwache", "--"}, 0, Mode::kWatch},
      {{"--dryrun", "-"}, 0, Mode::kWatch},  // the program name is no option
      {{"zeitwache", "--check"}, 0, Mode::kCheck},
      {{"zeitwache", "--check", "--dry-run", "-D"}, 1, Mode::kCheck},
      {{"zeitwache", "--", "--dry-run"}, 0, Mode::kDryRun},
      // Refused: a long option the tool does not know, whatever else is given.
      {{"zeitwache", "--helpme"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "--HELP"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "--dry-run=yes"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "--help", "--dryrun"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "--", "---"}, 0, Mode::kUnknownOption},
      // "/name" in any letter case is "--name"; "-name" and "name" are refused.
      {{"zeitwache", "/dry-run"}, 0, Mode::kDryRun},
      {{"zeitwache", "/CHECK"}, 0, Mode::kCheck},
      {{"zeitwache", "/Help"}, 0, Mode::kHelp},
      {{"zeitwache", "/version"}, 0, Mode::kVersion},
      {{"zeitwache", "-dry-run"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "-check"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "-Version"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "check"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "/D", "HELP"}, 1, Mode::kUnknownOption},
      {{"zeitwache", "--help", "dry-run"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "/dryrun"}, 0, Mode::kWatch},
      {{"zeitwache", "-checks"}, 0, Mode::kWatch},
      // "--check" takes the next argument as its list, unless it is one of ours.
      {{"zeitwache", "--check", "/srv/w/Z.INI"}, 0, Mode::kCheck, "/srv/w/Z.INI"},
      {{"zeitwache", "/check", "Z.INI", "/d"}, 1, Mode::kCheck, "Z.INI"},
      {{"zeitwache", "--check", "/D"}, 1, Mode::kCheck},
      {{"zeitwache", "--check", "check"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "--dry-run", "Z.INI"}, 0, Mode::kDryRun},
      // The metrics file's name is never taken for an option.
      {{"zeitwache", "--metrics", "/D"}, 0, Mode::kWatch},
      {{"zeitwache", "/METRICS", "--check", "--dry-run"}, 0, Mode::kDryRun},
      {{"zeitwache", "-d", "--metrics"}, 1, Mode::kUnknownOption},
      {{"zeitwache", "--metrics", "", "/?"}, 0, Mode::kUnknownOption},
      {{"zeitwache", "-metrics", "m.prom"}, 0, Mode::kUnknownOption},
  };
  for (const auto& c : cases) {
    const CommandLine parsed = ParseCommandLine(c.args);
    EXPECT_EQ(parsed.verbose, c.verbose) << c.args.back().substr(0, 20);
    EXPECT_EQ(parsed.mode, c.mode) << c.args.back().substr(0, 20);
    EXPECT_EQ(parsed.checkFile, c.checkFile) << c.args.back().substr(0, 20);
  }
}

// Beside a watch list whose program is overdue: help and version only print,
// whatever else is on the command line.
TEST(CommandLine, HelpAndVersionNeverTouchTheWatchListOrAProcess) {
  const std::string usage = "Usage: zeitwache [/D] [--dry-run | --check [FILE]]\n";
  const struct {
    std::vector<std::string_view> args;
    std::string output;  // the whole output, or for help its first line
  } cases[] = {
      {{"zeitwache", "--help"}, usage},
      {{"zeitwache", "/D", "/?", "--dry-run"}, usage},
      {{"zeitwache", "--version"}, "zeitwache " ZW_EXPECTED_VERSION "\n"},
      {{"zeitwache", "--dry-run", "--version", "-d"}, "zeitwache " ZW_EXPECTED_VERSION "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    ScriptedRun run;
    run.WatchList("[PGM]\nPGM001=APP\nAKT001=60\n");
    run.platform.snapshots = {{Framed({Proc(run.platform, 7, u"app", 120)}), {}}};
    // Were the privilege asked for, this failure would print its message.
    run.platform.failures[ScriptedOp::kOpenProcessToken] = 5;
    EXPECT_EQ(RunMain(run, c.args), 0);
    const std::string text = run.output.text();
    EXPECT_EQ(c.output == usage ? text.substr(0, usage.size()) : text, c.output);
    EXPECT_EQ(text.find(" failed with "), std::string::npos);
    EXPECT_EQ(run.platform.profileReads, 0);
    EXPECT_EQ(run.platform.perfQueries, 0);
    EXPECT_TRUE(run.platform.commandLines.empty());
    EXPECT_TRUE(run.platform.sleeps.empty());
  }
}

// Refused before the privilege is asked for or the list is looked at.
TEST(CommandLine, UnknownLongOptionIsRefusedBeforeAnything) {
  ScriptedRun run;
  run.WatchList("[PGM]\nPGM001=APP\nAKT001=60\n");
  run.platform.failures[ScriptedOp::kOpenProcessToken] = 5;  // would print if asked
  EXPECT_EQ(RunMain(run, {"zeitwache", "/D", "--dryrun", "--x"}), 2);
  EXPECT_EQ(run.output.text(), "");
  EXPECT_EQ(
      run.errors.text(),
      "zeitwache: unknown option --dryrun\nUsage: zeitwache [/D] [--dry-run | --check [FILE]]\n"
      "       zeitwache --help | --version\n");
  EXPECT_EQ(run.platform.profileReads + run.platform.fileReads + run.platform.perfQueries, 0);
}

TEST(DebugPrivilege, FailuresAreReportedAndTheRunGoesOn) {
  const struct {
    std::optional<ScriptedOp> failing;
    std::uint32_t error;
    std::string message;
  } cases[] = {
      {std::nullopt, 0, ""},
      {ScriptedOp::kOpenProcessToken, 5, "OpenProcessToken failed with 5\n"},
      {ScriptedOp::kLookupPrivilegeValue, 1313, "LookupPrivilegeValue failed with 1313\n"},
      {ScriptedOp::kAdjustTokenPrivileges, 1300, "AdjustTokenPrivileges failed with 1300\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ScriptedRun run;
    if (c.failing) run.platform.failures[*c.failing] = c.error;
    EXPECT_EQ(EnableDebugPrivilege(run.state), c.failing ? 0 : 1);
    EXPECT_EQ(run.output.text(), c.message);
    run.output.Clear();
    EXPECT_EQ(RunMain(run), 100);
    EXPECT_EQ(run.output.text(), c.message + "Anzahl Prozesse 0\n");
  }
}

TEST(WatchListPath, DirectoryLengthAndSeparator) {
  ScriptedPlatform platform;
  EXPECT_EQ(WatchListPath(platform), "C:\\WATCH\\ZEITWACHE.INI");
  platform.separator = '/';
  platform.currentDirectory = "/srv/watch";
  EXPECT_EQ(WatchListPath(platform), "/srv/watch/ZEITWACHE.INI");
  // 245 characters leave exactly room for the separator, the name and the
  // terminator in 260 bytes.
  platform.currentDirectory = "/" + std::string(244, 'd');
  ASSERT_TRUE(WatchListPath(platform).has_value());
  EXPECT_EQ(WatchListPath(platform)->size(), 259u);
  platform.currentDirectory += "d";
  EXPECT_EQ(WatchListPath(platform), std::nullopt);
  platform.currentDirectory = "/" + std::string(4000, 'd');
  EXPECT_EQ(WatchListPath(platform), std::nullopt);
  platform.currentDirectory = "/srv";
  platform.failures[ScriptedOp::kGetCurrentDirectory] = 5;
  EXPECT_EQ(WatchListPath(platform), std::nullopt);
}

TEST(RunLoop, NoWatchListMeansNoCheck) {
  ScriptedRun run;
  EXPECT_EQ(RunMain(run, {"zeitwache", "/D"}), 100);
  EXPECT_EQ(run.output.text(), "Anzahl Prozesse 0\n");
  EXPECT_EQ(run.errors.text(),
            "zeitwache: no watch list ZEITWACHE.INI in C:\\WATCH; nothing is watched\n");
  EXPECT_EQ(run.platform.perfQueries, 0);
}

TEST(RunLoop, DirectoryTooLongReadsNoWatchList) {
  ScriptedRun run;
  run.platform.currentDirectory = "C:\\" + std::string(300, 'x');
  run.platform.files["C:\\" + std::string(300, 'x') + "\\ZEITWACHE.INI"] =
      "[PGM]\nPGM001=APP\nAKT001=60\n";
  EXPECT_EQ(RunMain(run), 100);
  EXPECT_EQ(run.platform.profileReads, 0);
  EXPECT_EQ(run.output.text(), "Anzahl Prozesse 0\n");
  EXPECT_EQ(run.errors.text(),
            "zeitwache: the current directory cannot be read or its name is too long; "
            "nothing is watched\n");
}

TEST(RunLoop, LimitConversion) {
  const struct {
    std::string value;
    std::string trace;  // empty: the list ends before the entry is checked
  } cases[] = {
      {"60", "Pruefe APP (MaxRunTime = 60)"},
      {"1234567", "Pruefe APP (MaxRunTime = 1234567)"},
      {"2h", "Pruefe APP (MaxRunTime = 7200)"},
      {"  90s", "Pruefe APP (MaxRunTime = 90)"},
      {"-5", "Pruefe APP (MaxRunTime = -5)"},
      {"+7", "Pruefe APP (MaxRunTime = 7)"},
      {"0", ""},
      {"", ""},
      {"abc", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ScriptedRun run;
    run.WatchList("[PGM]\nPGM001=APP\nAKT001=" + c.value + "\n");
    EXPECT_EQ(RunMain(run, {"zeitwache", "/D"}), 100);
    const auto lines = TraceLines(run.output.text(), "Pruefe");
    if (c.trace.empty()) {
      EXPECT_TRUE(lines.empty());
    } else {
      EXPECT_EQ(lines, std::vector<std::string>{c.trace});
    }
  }
}

TEST(RunLoop, MissingNameWatchesNone) {
  ScriptedRun run;
  run.WatchList("[PGM]\nAKT001=10\n");
  run.platform.snapshots = {{Framed({Proc(run.platform, 100, u"nonesuch", 5)}), {}},
                            {Framed({}), {}}};
  RunMain(run, {"zeitwache", "/D"});
  EXPECT_EQ(TraceLines(run.output.text(), "Pruefe").front(), "Pruefe none (MaxRunTime = 10)");
  EXPECT_EQ(TraceLines(run.output.text(), "Prozess gefunden").front(),
            "Prozess gefunden NONESUCH.EXE, 100 (Laufzeit= 5 Sekunden)");
}

TEST(RunLoop, EntriesAfterAZeroLimitAreNeverRead) {
  ScriptedRun run;
  run.WatchList("[PGM]\nPGM001=A\nAKT001=60\nPGM002=B\nAKT002=0\nPGM003=C\nAKT003=60\n");
  RunMain(run);
  EXPECT_EQ(run.platform.profileKeys,
            (std::vector<std::string>{"PGM001", "AKT001", "PGM002", "AKT002"}));
  EXPECT_EQ(run.platform.perfQueries, 1);
}

// Every find starts the pass again at entry 1; the run ends after a pass in
// which none of the programs was running.
TEST(RunLoop, RestartsAtTheFirstEntryAfterEveryFind) {
  ScriptedRun run;
  run.WatchList("[PGM]\nPGM001=A\nAKT001=600\nPGM002=B\nAKT002=600\n");
  auto& p = run.platform;
  p.snapshots = {{Framed({Proc(p, 1, u"a", 1), Proc(p, 2, u"b", 1)}), {}},
                 {Framed({Proc(p, 1, u"a", 1), Proc(p, 2, u"b", 1)}), {}},
                 {Framed({Proc(p, 2, u"b", 1)}), {}},
                 {Framed({Proc(p, 2, u"b", 1)}), {}},
                 {Framed({}), {}}};
  EXPECT_EQ(RunMain(run, {"zeitwache", "/D"}), 100);
  EXPECT_EQ(
      TraceLines(run.output.text(), "Pruefe"),
      (std::vector<std::string>{"Pruefe A (MaxRunTime = 600)", "Pruefe A (MaxRunTime = 600)",
                                "Pruefe A (MaxRunTime = 600)", "Pruefe B (MaxRunTime = 600)",
                                "Pruefe A (MaxRunTime = 600)", "Pruefe B (MaxRunTime = 600)"}));
  EXPECT_EQ(std::count(p.sleeps.begin(), p.sleeps.end(), 5000u), 3);
  EXPECT_TRUE(run.output.text().ends_with("Anzahl Prozesse 2\n"));
}

TEST(RunLoop, TerminatedProgramIsCheckedAgainUntilGone) {
  ScriptedRun run;
  run.WatchList("[PGM]\nPGM001=APP\nAKT001=60\n");
  run.platform.killRemovesProcess = true;
  run.platform.snapshots = {{Framed({Proc(run.platform, 7, u"app", 120)}), {}}};
  EXPECT_EQ(RunMain(run), 100);
  EXPECT_EQ(run.output.text(),
            "Prozess beendet: APP.EXE, 7  (Laufzeit= 120 Sekunden)\nAnzahl Prozesse 2\n");
}

// 100 when nothing is left that the run could end; 101 once it said that a
// process was not ended. An entry that names no program ends nothing.
TEST(RunLoop, ExitCodeTellsHowTheRunEnded) {
  const struct {
    std::string entry;
    bool killEnds;
    std::optional<ScriptedOp> failing;
    int exitCode;
    std::vector<std::string> commands;
  } cases[] = {
      {"APP", true, std::nullopt, 100, {"kill 7"}},
      {"APP", false, std::nullopt, 101, {"kill 7"}},
      {"APP", true, ScriptedOp::kCreateProcess, 101, {"kill 7"}},
      {"", true, std::nullopt, 100, {}},
      {"ID", true, std::nullopt, 100, {}},
      {"*", true, std::nullopt, 100, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry + (c.killEnds ? " ends" : " stays"));
    ScriptedRun run;
    run.WatchList("[PGM]\nPGM001=" + c.entry + "\nAKT001=5\n");
    run.platform.killRemovesProcess = c.killEnds;
    if (c.failing) run.platform.failures[*c.failing] = kErrorFileNotFound;
    run.platform.snapshots = {{Framed({Proc(run.platform, 7, u"app", 120)}), {}}};
    EXPECT_EQ(RunMain(run), c.exitCode);
    EXPECT_EQ(run.platform.commandLines, c.commands);
    EXPECT_EQ(run.output.text().find("nicht beendet") != std::string::npos, c.exitCode == 101);
  }
}

TEST(RunLoop, WatchListIsReadAfreshForEveryEntry) {
  ScriptedRun run;
  run.WatchList("[PGM]\nPGM001=A\nAKT001=600\n");
  auto& p = run.platform;
  p.snapshots = {{Framed({Proc(p, 1, u"a", 1), Proc(p, 2, u"b", 1)}), {}},
                 {Framed({Proc(p, 2, u"b", 1)}), {}},
                 {Framed({}), {}}};
  // While the tool waits for A, entry 2 is added to the file.
  p.onSleep = [](ScriptedPlatform& platform) {
    platform.files[kWatchListPath] = "[PGM]\nPGM001=A\nAKT001=600\nPGM002=B\nAKT002=600\n";
  };
  RunMain(run, {"zeitwache", "/D"});
  const auto checks = TraceLines(run.output.text(), "Pruefe");
  ASSERT_GE(checks.size(), 3u);
  EXPECT_EQ(checks[2], "Pruefe B (MaxRunTime = 600)");
}

TEST(RunLoop, ListEndsAfterEntry9999) {
  ScriptedRun run;
  run.platform.profileHook = [](std::string_view key) -> std::optional<std::string> {
    return key.starts_with("PGM") ? "ABSENT" : "10";
  };
  EXPECT_EQ(RunMain(run), 100);
  EXPECT_EQ(run.platform.perfQueries, 9999);
  EXPECT_EQ(run.platform.profileKeys.back(), "AKT9999");
}

// A list that cannot be read is no list without processes: the run ends
// with 102, whatever the watch list holds; a dry run does at once.
TEST(RunLoop, ProcessListThatCannotBeReadEndsWith102) {
  const std::string failed = "RegQueryValueEx failed ErrorCode: ";
  const struct {
    const char* mode;
    std::uint32_t error;
    std::string output;
    std::string errors;
  } cases[] = {
      {"/D", 5, "Pruefe APP (MaxRunTime = 60)\n" + failed + "5\n" + failed + "5\n" + failed + "5\n",
       ""},
      {"--dry-run", 8,
       "Probelauf: es wird nichts beendet\nBeenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Pruefe APP (MaxRunTime = 60)\n" + failed + "8\n",
       "zeitwache: the process list is too large to read (error 8)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ScriptedRun run;
    run.WatchList("[PGM]\nPGM001=APP\nAKT001=60\n");
    run.platform.failures[ScriptedOp::kRegQueryValueEx] = c.error;
    const std::vector<std::string_view> args = {"zeitwache", c.mode};
    EXPECT_EQ(Main(args, run.platform, run.output, run.errors), 102);
    EXPECT_EQ(run.output.text(), c.output);
    EXPECT_EQ(run.errors.text(), c.errors + "zeitwache: the process list cannot be read (error " +
                                     std::to_string(c.error) + "); nothing more is decided\n");
  }
}

}  // namespace
}  // namespace zw
