#include "tools/kill/kill_args.h"

#include <limits>

namespace zw {
namespace {

KillRequest Refuse(std::string_view argument, std::string_view reason) {
  KillRequest request;
  request.error = "invalid process identifier \"";
  request.error += argument;
  request.error += "\": ";
  request.error += reason;
  return request;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

KillRequest ParseProcessId(std::string_view argument) {
  if (argument.empty()) return Refuse(argument, "empty");
  std::string_view digits = argument;
  const bool negative = digits.front() == '-';
  if (negative || digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || !IsDigit(digits.front())) {
    return Refuse(argument, "not a decimal number");
  }
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::uint64_t value = 0;
  bool overflow = false;
  std::size_t used = 0;
  for (; used < digits.size() && IsDigit(digits[used]); ++used) {
    value = value * 10 + static_cast<std::uint64_t>(digits[used] - '0');
    // Keep accumulating digits so that trailing junk is still reported as
    // such, but never let the value wrap.
    if (value > kMax) {
      overflow = true;
      value = kMax + 1;
    }
  }
  if (used != digits.size()) {
    return Refuse(argument, "unexpected characters after the number");
  }
  // A negative identifier is refused as such, however large: it is not a
  // process on any system this runs on.
  if (negative || value == 0) return Refuse(argument, "must be positive");
  if (overflow) return Refuse(argument, "out of range");
  KillRequest request;
  request.pid = static_cast<std::uint32_t>(value);
  return request;
}

}  // namespace

KillRequest ParseKillArguments(std::span<const std::string_view> arguments) {
  KillRequest request;
  if (arguments.empty()) {
    request.error = "missing process identifier (usage: kill <pid>)";
  } else if (arguments.size() > 1) {
    request.error = "too many arguments (usage: kill <pid>)";
  } else {
    request = ParseProcessId(arguments.front());
  }
  return request;
}

}  // namespace zw
