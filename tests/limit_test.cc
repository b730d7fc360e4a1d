#include "run/limit.h"

#include <gtest/gtest.h>

#include <string>

namespace zw {
namespace {

TEST(Limit, ReadsWhatTheAdministratorMeant) {
  using F = LimitForm;
  const struct {
    std::string text;
    long seconds;
    LimitForm form;
  } cases[] = {
      {"3600", 3600, F::kSeconds},
      {"1209600", 1209600, F::kSeconds},  // no cut after six digits
      {"0000005", 5, F::kSeconds},
      {"2147483647", 2147483647, F::kSeconds},
      {" \t90 ", 90, F::kSeconds},
      {"90s", 90, F::kWithUnit},
      {"45min", 2700, F::kWithUnit},
      {"2h", 7200, F::kWithUnit},
      {"2 H", 7200, F::kWithUnit},
      {"1d", 86400, F::kWithUnit},
      {"1:30:00", 5400, F::kClock},
      {"05:30", 330, F::kClock},
      // Anything else: atol over the first six characters, as before.
      {"2147483648", 214748, F::kLegacy},
      {"24856d", 24856, F::kLegacy},
      {"1:60:00", 1, F::kLegacy},
      {"10:00:00:00", 10, F::kLegacy},
      {"2hours", 2, F::kLegacy},
      {"-5", -5, F::kLegacy},
      {"abc", 0, F::kLegacy},
      {"h", 0, F::kLegacy},
  };
  for (const auto& c : cases) {
    const Limit limit = ParseLimit(c.text);
    EXPECT_EQ(limit.seconds, c.seconds) << '"' << c.text << '"';
    EXPECT_EQ(limit.form, c.form) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace zw
