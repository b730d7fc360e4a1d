#include "platform/linux/proc_parse.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zw::posix {
namespace {

using namespace std::string_view_literals;

// The fields from 4 (ppid) to 13 and from 16 to 21, which are not read.
constexpr std::string_view kMiddle = " 1 100 100 0 -1 4194560 120 0 0 0 ";
constexpr std::string_view kTail = " 0 0 20 0 1 0 ";

std::string StatLine(std::string_view head, std::string_view utime, std::string_view stime,
                     std::string_view start) {
  std::string line(head);
  line.append(kMiddle).append(utime).append(" ").append(stime);
  line.append(kTail).append(start);
  line.append(" 2236416 230 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 0 17 1\n");
  return line;
}

TEST(ParseStatTest, ReadsTheFieldsAroundAnyComm) {
  struct Case {
    std::string head;
    std::uint32_t pid;
    std::string_view comm;
    char state;
  };
  const std::vector<Case> cases = {
      {"1234 (bash) S", 1234, "bash", 'S'},
      {"7 (a) b (c)) R", 7, "a) b (c)", 'R'},
      {"8 ((() Z", 8, "((", 'Z'},
      {"9 () S", 9, "", 'S'},
      {"10 (x 1 2 3 ) D", 10, "x 1 2 3 ", 'D'},
      {std::string("11 (new\nline) I"), 11, "new\nline", 'I'},
  };
  for (const Case& c : cases) {
    const std::string line = StatLine(c.head, "17", "4", "987654321");
    const std::optional<ProcStat> stat = ParseStat(line);
    ASSERT_TRUE(stat) << c.head;
    EXPECT_EQ(stat->pid, c.pid);
    EXPECT_EQ(stat->comm, c.comm);
    EXPECT_EQ(stat->state, c.state);
    EXPECT_EQ(stat->userTicks, 17u);
    EXPECT_EQ(stat->kernelTicks, 4u);
    EXPECT_EQ(stat->startTicks, 987654321u);
    EXPECT_EQ(stat->flags, 4194560u);
    EXPECT_EQ(stat->threads, 1u);
    EXPECT_FALSE(IsKernelThread(stat->flags));
  }
}

TEST(ParseStatTest, RejectsIncompleteOrMalformedLines) {
  const std::string full = StatLine("42 (sleep) S", "1", "2", "3000");
  // Cut before the start time the line is incomplete; cut right after it,
  // it still holds every field that is read.
  const std::size_t startAt = full.find(" 3000 ") + 1;
  EXPECT_FALSE(ParseStat(std::string_view(full).substr(0, startAt)));
  EXPECT_TRUE(ParseStat(std::string_view(full).substr(0, startAt + 4)));
  const std::vector<std::string> bad = {
      "",
      "42 (sleep",
      "42 (sleep) S",
      "(sleep) S 1 2 3",
      "x42 (sleep) S",
      "42(sleep) S",
      StatLine("42 (sleep) SS", "1", "2", "3"),
      StatLine("42 (sleep) S", "-1", "2", "3"),
      StatLine("42 (sleep) S", "1", "2", "3x"),
      StatLine("42 (sleep) S", "1", "2", "99999999999999999999999"),
      StatLine("99999999999 (sleep) S", "1", "2", "3"),
  };
  for (const std::string& line : bad) EXPECT_FALSE(ParseStat(line)) << line;
}

TEST(ProcStateTest, OnlyEndedProcessesAreNotRunning) {
  for (char state : "RSDTtIWKP"sv) EXPECT_TRUE(IsRunningState(state, 1)) << state;
  for (char state : "ZXx"sv) EXPECT_FALSE(IsRunningState(state, 1)) << state;
  // Its main thread gone, the process runs on in its other threads.
  EXPECT_TRUE(IsRunningState('Z', 2));
  EXPECT_FALSE(IsRunningState('X', 2));
}

TEST(ParsePidNameTest, AcceptsOnlyPlainProcessNumbers) {
  EXPECT_EQ(ParsePidName("1"), 1u);
  EXPECT_EQ(ParsePidName("4194304"), 4194304u);
  EXPECT_EQ(ParsePidName("4294967295"), 4294967295u);
  for (std::string_view name : {"", "0", "012", "self", "12a", "-1", "+1", "4294967296", " 1"}) {
    EXPECT_FALSE(ParsePidName(name)) << name;
  }
}

TEST(SplitCmdlineTest, SplitsAtNulsWithOrWithoutTerminator) {
  using Words = std::vector<std::string_view>;
  EXPECT_EQ(SplitCmdline("/bin/sleep\0"
                         "30\0"sv),
            (Words{"/bin/sleep", "30"}));
  EXPECT_EQ(SplitCmdline("/bin/sleep\0"
                         "30"sv),
            (Words{"/bin/sleep", "30"}));
  EXPECT_EQ(SplitCmdline("a\0\0b\0"sv), (Words{"a", "", "b"}));
  EXPECT_EQ(SplitCmdline("worker: idle (main)"sv), (Words{"worker: idle (main)"}));
  EXPECT_EQ(SplitCmdline(""sv), Words{});
}

TEST(NameTest, BaseNameAndExtension) {
  struct Case {
    std::string_view path, base, stripped;
  };
  const Case cases[] = {
      {"/usr/bin/sleep", "sleep", "sleep"},
      {"run.sh", "run.sh", "run"},
      {"/opt/a.b.c", "a.b.c", "a.b"},
      {"/home/u/.hidden", ".hidden", ".hidden"},
      {"trail.", "trail.", "trail"},
      {"/dir.d/noext", "noext", "noext"},
      {"/dir/", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BaseName(c.path), c.base) << c.path;
    EXPECT_EQ(StripExtension(BaseName(c.path)), c.stripped) << c.path;
  }
}

TEST(InstanceNameTest, RecoversNamesTheKernelCut) {
  struct Case {
    std::string_view comm, cmdline, expected;
  };
  const Case cases[] = {
      // Short names are complete in comm; the command line is not asked.
      {"bash", "/bin/other\0"sv, "bash"},
      {"run.sh", ""sv, "run"},
      // Cut names come from the program path, with the extension dropped.
      {"zw-sleeper-with",
       "/tmp/d/zw-sleeper-with-long-name.bin\0"
       "30\0"sv,
       "zw-sleeper-with-long-name"},
      // A script: argv[0] is the interpreter, the script comes later.
      {"my_long_script_", "/usr/bin/python3\0/opt/my_long_script_name.py\0"sv,
       "my_long_script_name"},
      // The first matching word decides.
      {"abcdefghijklmno", "abcdefghijklmnop\0abcdefghijklmnoq\0"sv, "abcdefghijklmnop"},
      // Exactly fifteen bytes long and not cut at all.
      {"abcdefghijklmno", "./abcdefghijklmno\0"sv, "abcdefghijklmno"},
      // Kernel threads have no command line and keep their comm.
      {"kworker/u8:1-ev", ""sv, "kworker/u8:1-ev"},
      // A thread renamed by the program itself matches no word.
      {"renamed-worker1", "/usr/bin/server\0--port\0"sv, "renamed-worker1"},
      // A command line rewritten as one blank-separated text.
      {"postgres-checkp", "postgres-checkpointer main"sv, "postgres-checkpointer main"},
      {"my.long.name.ab", "/x/my.long.name.abc.exe\0"sv, "my.long.name.abc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InstanceName(c.comm, c.cmdline), c.expected) << c.comm;
  }
}

TEST(EffectiveCapKillTest, ReadsTheEffectiveSetOnly) {
  const std::string_view kPrefix = "Name:\tzeitwache\nUid:\t1000\t1000\t1000\t1000\n";
  struct Case {
    std::string_view lines;
    std::optional<bool> expected;
  };
  const Case cases[] = {
      {"CapPrm:\t000001ffffffffff\nCapEff:\t000001ffffffffff\n", true},
      {"CapEff:\t0000000000000020\n", true},
      {"CapPrm:\t0000000000000020\nCapEff:\t0000000000000000\n", false},
      {"CapEff:\t00000000000000df\n", false},
      {"CapEff: 20", true},
      {"CapInh:\t0000000000000020\n", std::nullopt},
      {"CapEff:\t\n", std::nullopt},
      {"CapEff:\tzz20\n", std::nullopt},
      {"XCapEff:\t0000000000000020\n", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::string status = std::string(kPrefix) + std::string(c.lines);
    EXPECT_EQ(EffectiveCapKill(status), c.expected) << c.lines;
  }
}

TEST(ClockTest, TicksAndStartTimes) {
  EXPECT_EQ(TicksTo100ns(250, 100), 25'000'000u);
  EXPECT_EQ(TicksTo100ns(1, 3), 3'333'333u);
  // Far beyond what ticks * 10^7 could hold in 64 bits.
  EXPECT_EQ(TicksTo100ns(3'000'000'000'000, 100), 300'000'000'000'000'000u);
  EXPECT_EQ(TicksTo100ns(5, 0), 0u);

  constexpr std::int64_t kSecond = 1'000'000'000;
  constexpr std::int64_t kNow = 1'700'000'000;
  constexpr FileTime kEpoch = 116'444'736'000'000'000;
  constexpr FileTime kTick = 10'000'000;
  // Up 5000 s; a process started 600 s ago.
  EXPECT_EQ(StartTicksToFileTime(440'000, 100, kNow * kSecond, 5000 * kSecond),
            kEpoch + (kNow - 600) * kTick);
  // Fractions of the clocks and of the tick count all carry through.
  EXPECT_EQ(
      StartTicksToFileTime(12'345, 100, kNow * kSecond + 250'000'000, 1000 * kSecond + 100'000'000),
      kEpoch + (kNow - 1000 + 123) * kTick + 6'000'000);
  EXPECT_FALSE(StartTicksToFileTime(1, 0, kNow * kSecond, kSecond));
}

}  // namespace
}  // namespace zw::posix
