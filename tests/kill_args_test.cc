#include "tools/kill/kill_args.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zw {
namespace {

KillRequest Parse(std::vector<std::string_view> arguments) { return ParseKillArguments(arguments); }

TEST(KillArgumentsTest, AcceptsOneDecimalIdentifier) {
  const struct {
    std::string_view argument;
    std::uint32_t pid;
  } cases[] = {
      {"1", 1}, {"4", 4}, {"1234", 1234}, {"0004", 4}, {"+8", 8}, {"2147483647", 2147483647u},
  };
  for (const auto& c : cases) {
    const KillRequest request = Parse({c.argument});
    EXPECT_TRUE(request.Ok()) << c.argument << ": " << request.error;
    EXPECT_EQ(request.pid, c.pid) << c.argument;
    EXPECT_EQ(request.graceSeconds, kDefaultGraceSeconds) << c.argument;
  }
}

TEST(KillArgumentsTest, RefusesBadIdentifierAndSaysWhy) {
  const struct {
    std::string_view argument;
    std::string_view reason;
  } cases[] = {
      {"", "empty"},
      {"abc", "not a decimal number"},
      {"-", "not a decimal number"},
      {"+", "not a decimal number"},
      {" 12", "not a decimal number"},
      {"0x10", "unexpected characters"},
      {"12abc", "unexpected characters"},
      {"12 ", "unexpected characters"},
      {"1.5", "unexpected characters"},
      {"0", "must be positive"},
      {"-0", "must be positive"},
      {"-2", "must be positive"},
      {"-99999999999999999999", "must be positive"},
      {"2147483648", "out of range (at most 2147483647)"},
      {"4294967295", "out of range"},
      {"4294967296", "out of range"},
      {"99999999999999999999999", "out of range"},
      {"99999999999999999999999x", "unexpected characters"},
  };
  for (const auto& c : cases) {
    const KillRequest request = Parse({c.argument});
    EXPECT_FALSE(request.Ok()) << '"' << c.argument << '"';
    EXPECT_NE(request.error.find(c.reason), std::string::npos)
        << '"' << c.argument << "\" -> " << request.error;
    EXPECT_NE(request.error.find(std::string(c.argument)), std::string::npos)
        << "the message names the argument: " << request.error;
    EXPECT_EQ(request.zeroPid, c.argument == "0") << '"' << c.argument << '"';
  }
}

TEST(KillArgumentsTest, TakesExactlyOneArgument) {
  const KillRequest none = Parse({});
  EXPECT_FALSE(none.Ok());
  EXPECT_NE(none.error.find("missing"), std::string::npos) << none.error;

  // Even when each of them would be a valid identifier: never more than one
  // process per call.
  const KillRequest two = Parse({"12", "16"});
  EXPECT_FALSE(two.Ok());
  EXPECT_EQ(two.pid, 0u);
  EXPECT_NE(two.error.find("too many"), std::string::npos) << two.error;
}

TEST(KillArgumentsTest, TakesTheGracePeriodInEveryForm) {
  const struct {
    std::vector<std::string_view> arguments;
    std::uint32_t pid;
    std::uint32_t grace;
  } cases[] = {
      {{"-t", "10", "1234"}, 1234, 10},
      {{"1234", "-t", "0"}, 1234, 0},
      {{"-t7", "1234"}, 1234, 7},
      {{"--grace", "3600", "1234"}, 1234, 3600},
      {{"--grace=2", "1234"}, 1234, 2},
      {{"-t", "1", "--", "1234"}, 1234, 1},
      {{"--", "1234"}, 1234, kDefaultGraceSeconds},
  };
  for (const auto& c : cases) {
    const KillRequest request = Parse(c.arguments);
    EXPECT_TRUE(request.Ok()) << request.error;
    EXPECT_EQ(request.pid, c.pid);
    EXPECT_EQ(request.graceSeconds, c.grace) << c.arguments.front();
  }
}

TEST(KillArgumentsTest, RefusesABadCommandLineAndSaysWhy) {
  const struct {
    std::vector<std::string_view> arguments;
    std::string_view reason;
  } cases[] = {
      {{"-t", "abc", "12"}, "grace period \"abc\": not a decimal number"},
      {{"-t", "-1", "12"}, "grace period \"-1\": must not be negative"},
      {{"--grace=+5", "12"}, "grace period \"+5\": not a decimal number"},
      {{"--grace=", "12"}, "grace period \"\": empty"},
      {{"-t", "3601", "12"}, "grace period \"3601\": out of range (at most 3600 seconds)"},
      {{"-t", "99999999999999999999", "12"}, "out of range"},
      {{"-t", "5s", "12"}, "grace period \"5s\": unexpected characters"},
      {{"12", "-t"}, "option \"-t\" needs seconds"},
      {{"-t", "1", "-t", "2", "12"}, "grace period given twice"},
      {{"-s", "KILL", "12"}, "unknown option \"-s\""},
      {{"-t", "1"}, "missing process identifier"},
      {{"--", "-t", "1"}, "too many arguments"},
      {{"-t", "1", "12", "16"}, "too many arguments"},
  };
  for (const auto& c : cases) {
    const KillRequest request = Parse(c.arguments);
    EXPECT_FALSE(request.Ok()) << c.reason;
    EXPECT_NE(request.error.find(c.reason), std::string::npos) << request.error;
  }
}

TEST(KillArgumentsTest, HelpWinsOverAnythingBeforeTheEndOfOptions) {
  for (const std::string_view help : {"--help", "-h", "/?"}) EXPECT_TRUE(Parse({"-s", help}).help);
  EXPECT_FALSE(Parse({"--", "-h"}).help);
  EXPECT_NE(KillUsage().find("5 a process that must never be ended"), std::string_view::npos);
}

// Set but unusable, the identity refuses the whole command: kill was meant
// for one process and cannot tell which.
TEST(KillArgumentsTest, TakesTheExpectedStartOnlyForTheSamePidAndFailsClosed) {
  const struct {
    const char* value;
    std::optional<std::uint64_t> start;
    std::string_view error;
  } cases[] = {
      {nullptr, std::nullopt, ""},
      {"1234:987654", 987654u, ""},
      {"", std::nullopt, "\"\" unusable: not PID:START"},
      {"1234:", std::nullopt, "\"1234:\" unusable: not PID:START"},
      {"1234:0", std::nullopt, "not PID:START"},
      {"0:987654", std::nullopt, "not PID:START"},
      {"1234:18446744073709551616", std::nullopt, "not PID:START"},
      {"1234:1\n2", std::nullopt, "\"1234:1?2\" unusable"},
      {"99:987654", std::nullopt, "names another process than 1234"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ExpectedStart(1234, c.value, &error), c.start) << c.error;
    EXPECT_EQ(error.empty(), c.error.empty()) << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace zw
