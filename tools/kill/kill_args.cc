#include "tools/kill/kill_args.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

#include "platform/kill_protocol/target_identity.h"

namespace zw {
namespace {

constexpr std::string_view kUsage = "usage: kill [-t SECONDS] <pid>";
constexpr std::string_view kHelp =
    "usage: kill [-t SECONDS] <pid>\n"
    "Ends the one process <pid>: SIGTERM, up to SECONDS (default 5, at most 3600)\n"
    "for it to end, then SIGKILL.\n"
    "With ZEITWACHE_TARGET=PID:START set, a process that started at another time\n"
    "is not signalled; set but unusable, nothing is.\n"
    "Exit codes: 0 ended, 1 could not be ended, 2 command line, ZEITWACHE_TARGET\n"
    "or a thread's id refused,\n"
    "3 no such process, 4 the identifier now names another process,\n"
    "5 a process that must never be ended.\n";
constexpr std::string_view kOutOfRange = "out of range";

// Text from whoever started kill, as a message shows it: shortened, and
// only its printable characters, so that it cannot garble the line.
std::string Shown(std::string_view text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size() && shown.size() < 64; ++i) {
    shown.push_back(text[i] >= ' ' && text[i] <= '~' ? text[i] : '?');
  }
  return shown;
}

KillRequest Refuse(std::string_view what, std::string_view argument, std::string_view reason) {
  KillRequest request;
  request.error = "invalid ";
  request.error += what;
  request.error += " \"";
  request.error += Shown(argument);
  request.error += "\": ";
  request.error += reason;
  return request;
}

KillRequest RefuseCommandLine(std::string_view reason) {
  KillRequest request;
  request.error = std::string(reason) + " (" + std::string(kUsage) + ")";
  return request;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The value of `argument` when it is a sign-less decimal number no larger
// than `max`; otherwise `reason` says why not. The value never wraps: digits
// past the limit are still read, so that trailing junk is reported as such.
std::optional<std::uint32_t> ParseDecimal(std::string_view digits, std::uint32_t max,
                                          std::string_view* reason) {
  if (digits.empty() || !IsDigit(digits.front())) {
    *reason = "not a decimal number";
    return std::nullopt;
  }
  std::uint64_t value = 0;
  std::size_t used = 0;
  for (; used < digits.size() && IsDigit(digits[used]); ++used) {
    value = value * 10 + static_cast<std::uint64_t>(digits[used] - '0');
    if (value > max) value = std::uint64_t{max} + 1;
  }
  if (used != digits.size()) {
    *reason = "unexpected characters after the number";
    return std::nullopt;
  }
  if (value > max) {
    *reason = kOutOfRange;
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

KillRequest ParseProcessId(std::string_view argument, KillRequest request) {
  constexpr std::string_view kWhat = "process identifier";
  if (argument.empty()) return Refuse(kWhat, argument, "empty");
  std::string_view digits = argument;
  const bool negative = digits.front() == '-';
  if (negative || digits.front() == '+') digits.remove_prefix(1);
  std::string_view reason;
  const std::optional<std::uint32_t> pid =
      ParseDecimal(digits, std::numeric_limits<std::uint32_t>::max(), &reason);
  const bool outOfRange = !pid && reason == kOutOfRange;
  if (!pid && !outOfRange) return Refuse(kWhat, argument, reason);
  // A negative identifier is refused as such, however large: it is not a
  // process on any system this runs on (to kill(2) it names a group).
  if (negative || pid == 0u) {
    KillRequest refusal = Refuse(kWhat, argument, "must be positive");
    refusal.zeroPid = !negative;
    return refusal;
  }
  if (outOfRange || *pid > kMaxTargetPid) {
    return Refuse(kWhat, argument, "out of range (at most " + std::to_string(kMaxTargetPid) + ")");
  }
  request.pid = *pid;
  return request;
}

std::optional<std::uint32_t> ParseGrace(std::string_view argument, KillRequest* refusal) {
  constexpr std::string_view kWhat = "grace period";
  if (argument.empty()) {
    *refusal = Refuse(kWhat, argument, "empty");
    return std::nullopt;
  }
  if (argument.size() > 1 && argument[0] == '-' && IsDigit(argument[1])) {
    *refusal = Refuse(kWhat, argument, "must not be negative");
    return std::nullopt;
  }
  std::string_view reason;
  const std::optional<std::uint32_t> seconds = ParseDecimal(argument, kMaxGraceSeconds, &reason);
  if (!seconds) {
    const std::string detail =
        reason == kOutOfRange
            ? "out of range (at most " + std::to_string(kMaxGraceSeconds) + " seconds)"
            : std::string(reason);
    *refusal = Refuse(kWhat, argument, detail);
  }
  return seconds;
}

// An argument that is meant as an option rather than as an identifier: a
// dash followed by a letter or a second dash. "-2" stays an identifier, so
// that it is refused as a negative one.
bool LooksLikeOption(std::string_view argument) {
  return argument.size() > 1 && argument[0] == '-' && (IsLetter(argument[1]) || argument[1] == '-');
}

// The value text of a grace option at `arguments[*i]`, advancing `*i` past a
// separate value; nullopt when the argument is not a grace option.
std::optional<std::string_view> GraceValue(std::span<const std::string_view> arguments,
                                           std::size_t* i, bool* missing) {
  const std::string_view argument = arguments[*i];
  constexpr std::string_view kLong = "--grace";
  if (argument.starts_with("--grace=")) return argument.substr(kLong.size() + 1);
  if (argument.starts_with("-t") && argument.size() > 2) return argument.substr(2);
  if (argument != "-t" && argument != kLong) return std::nullopt;
  if (*i + 1 >= arguments.size()) {
    *missing = true;
    return std::string_view();
  }
  return arguments[++*i];
}

bool AsksForHelp(std::string_view argument) {
  return argument == "--help" || argument == "-h" || argument == "/?";
}

}  // namespace

std::string_view KillUsage() { return kHelp; }

KillRequest ParseKillArguments(std::span<const std::string_view> arguments) {
  KillRequest request;
  for (const std::string_view argument : arguments) {
    if (argument == "--") break;
    if (AsksForHelp(argument)) {
      request.help = true;
      return request;
    }
  }
  std::optional<std::string_view> pidText;
  bool graceSeen = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && LooksLikeOption(argument)) {
      bool missing = false;
      const std::optional<std::string_view> value = GraceValue(arguments, &i, &missing);
      if (!value) return RefuseCommandLine("unknown option \"" + Shown(argument) + "\"");
      if (missing) return RefuseCommandLine("option \"" + Shown(argument) + "\" needs seconds");
      if (graceSeen) return RefuseCommandLine("grace period given twice");
      graceSeen = true;
      KillRequest refusal;
      const std::optional<std::uint32_t> seconds = ParseGrace(*value, &refusal);
      if (!seconds) return refusal;
      request.graceSeconds = *seconds;
      continue;
    }
    if (pidText) return RefuseCommandLine("too many arguments");
    pidText = argument;
  }
  if (!pidText) return RefuseCommandLine("missing process identifier");
  return ParseProcessId(*pidText, request);
}

std::optional<std::uint64_t> ExpectedStart(std::uint32_t pid, const char* value,
                                           std::string* error) {
  if (value == nullptr) return std::nullopt;
  const std::string prefix = std::string(kTargetVariable) + "=\"" + Shown(value) + "\" unusable: ";
  const std::optional<TargetIdentity> target = ParseTarget(value);
  if (!target) {
    *error = prefix + "not PID:START; nothing signalled";
    return std::nullopt;
  }
  if (target->pid != pid) {
    *error = prefix + "names another process than " + std::to_string(pid) + "; nothing signalled";
    return std::nullopt;
  }
  return target->start;
}

bool TargetFromEnvironment(std::uint32_t pid, std::optional<std::uint64_t>* expected) {
  std::string error;
  *expected = ExpectedStart(pid, std::getenv(kTargetVariable), &error);
  if (error.empty()) return true;
  std::fprintf(stderr, "kill: %s\n", error.c_str());
  return false;
}

}  // namespace zw
