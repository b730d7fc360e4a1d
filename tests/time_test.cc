#include <gtest/gtest.h>

#include "base/file_time.h"
#include "enforce/check.h"
#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::Framed;
using testing::Proc;
using testing::ScriptedRun;

TEST(Time, CalendarRoundTrip) {
  const struct {
    std::int64_t unixSeconds;
    SystemTime expected;
  } cases[] = {
      {-kFileTimeUnixEpochSeconds, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {0, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {951782400, {2000, 2, 2, 29, 0, 0, 0, 0}},
      {2147483648, {2038, 1, 2, 19, 3, 14, 8, 0}},  // one second past 32 bits
      {4107542399, {2100, 2, 0, 28, 23, 59, 59, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unixSeconds);
    const auto fileTime = UnixToFileTime(c.unixSeconds, 1234567);
    ASSERT_TRUE(fileTime.has_value());
    SystemTime t;
    ASSERT_TRUE(FileTimeToCalendar(*fileTime, &t));
    EXPECT_EQ(t.year, c.expected.year);
    EXPECT_EQ(t.month, c.expected.month);
    EXPECT_EQ(t.dayOfWeek, c.expected.dayOfWeek);
    EXPECT_EQ(t.day, c.expected.day);
    EXPECT_EQ(t.hour * 3600 + t.minute * 60 + t.second,
              c.expected.hour * 3600 + c.expected.minute * 60 + c.expected.second);
    EXPECT_EQ(t.milliseconds, 123);
    EXPECT_EQ(CalendarToUnixSeconds(t), c.unixSeconds);
  }
  EXPECT_EQ(UnixToFileTime(0), FileTime{116444736000000000});
  EXPECT_EQ(UnixToFileTime(-kFileTimeUnixEpochSeconds - 1), std::nullopt);
  SystemTime t;
  EXPECT_FALSE(FileTimeToCalendar(FileTime{1} << 63, &t));
}

TEST(Time, InvalidCalendarRecordsDoNotConvert) {
  const SystemTime cases[] = {
      {2023, 13, 0, 1, 0, 0, 0, 0}, {2023, 0, 0, 1, 0, 0, 0, 0},  {2023, 2, 0, 29, 0, 0, 0, 0},
      {2023, 4, 0, 31, 0, 0, 0, 0}, {2023, 1, 0, 0, 0, 0, 0, 0},  {2023, 1, 0, 1, 24, 0, 0, 0},
      {2023, 1, 0, 1, 0, 60, 0, 0}, {2023, 1, 0, 1, 0, 0, 60, 0}, {1600, 12, 0, 31, 0, 0, 0, 0},
  };
  for (const SystemTime& t : cases) {
    EXPECT_EQ(CalendarToUnixSeconds(t), std::nullopt) << t.year << "-" << t.month << "-" << t.day;
  }
}

TEST(RunTime, MeasuredOnTheSameScaleAsNow) {
  for (const std::int64_t now : {std::int64_t{1'700'000'000}, std::int64_t{4'000'000'000}}) {
    ScriptedRun run;
    run.platform.nowMs = now * 1000 + 999;
    run.platform.snapshots = {{Framed({Proc(run.platform, 5, u"app", 600)}), {}}};
    std::string name = "APP";
    CheckWatchEntry(run.state, name, 100000);
    EXPECT_EQ(run.state.inventory.processTable[1].runTime, 600);
  }
}

TEST(RunTime, UnreadableOrUnconvertibleTimesLeaveTheSlotUnmeasured) {
  const struct {
    std::optional<ScriptedOp> failing;
    std::optional<FileTime> creation;
  } cases[] = {
      {ScriptedOp::kOpenProcess, std::nullopt},
      {ScriptedOp::kGetProcessTimes, std::nullopt},
      {ScriptedOp::kFileTimeToSystemTime, std::nullopt},
      {std::nullopt, FileTime{1} << 63},
  };
  for (const auto& c : cases) {
    ScriptedRun run;
    ScriptedProcess p = Proc(run.platform, 5, u"sammler", 600);
    p.creationOverride = c.creation;
    run.platform.snapshots = {{Framed({p}), {}}};
    if (c.failing) run.platform.failures[*c.failing] = 5;
    std::string name = "SAMMLER";
    EXPECT_EQ(CheckWatchEntry(run.state, name, 60), CheckResult::kHandled);
    EXPECT_EQ(run.state.inventory.processTable[1].runTime, 0);
    EXPECT_TRUE(run.platform.commandLines.empty());
    // Opened but not measured: still known as the companion.
    EXPECT_EQ(run.state.inventory.companionPid, c.failing == ScriptedOp::kOpenProcess ? 0u : 5u);
  }
}

}  // namespace
}  // namespace zw
