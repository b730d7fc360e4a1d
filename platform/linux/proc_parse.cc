#include "platform/linux/proc_parse.h"

#include <string.h>

#include <charconv>

#include "base/file_time.h"

namespace zw::posix {
namespace {

constexpr std::int64_t kTicks100nsPerSecond = 10'000'000;

// Fields after the comm, counted from field 3 (state) as index 0.
constexpr std::size_t kStateIndex = 0;
constexpr std::size_t kFlagsIndex = 9 - 3;
constexpr std::size_t kUserTicksIndex = 14 - 3;
constexpr std::size_t kKernelTicksIndex = 15 - 3;
constexpr std::size_t kThreadsIndex = 20 - 3;
constexpr std::size_t kStartTicksIndex = 22 - 3;

template <typename T>
bool ParseUnsigned(std::string_view text, T* value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

bool IsBlank(char c) { return c == ' ' || c == '\n'; }

// Walks the blank-separated fields of the text after the comm, without
// copying them.
class FieldCursor {
 public:
  explicit FieldCursor(std::string_view rest) : at_(rest.data()), end_(rest.data() + rest.size()) {}

  /// The next field; empty at the end of the text.
  std::string_view Next() {
    while (at_ != end_ && IsBlank(*at_)) ++at_;
    const char* start = at_;
    while (at_ != end_ && !IsBlank(*at_)) ++at_;
    return std::string_view(start, static_cast<std::size_t>(at_ - start));
  }

 private:
  const char* at_;
  const char* end_;
};

// Stores field `index` (counted from the state as 0) where it is one of
// those read. False when it does not parse.
bool StoreField(std::size_t index, std::string_view field, ProcStat* stat) {
  switch (index) {
    case kStateIndex:
      stat->state = field[0];
      return field.size() == 1;
    case kFlagsIndex:
      return ParseUnsigned(field, &stat->flags);
    case kUserTicksIndex:
      return ParseUnsigned(field, &stat->userTicks);
    case kKernelTicksIndex:
      return ParseUnsigned(field, &stat->kernelTicks);
    case kThreadsIndex:
      return ParseUnsigned(field, &stat->threads);
    case kStartTicksIndex:
      return ParseUnsigned(field, &stat->startTicks);
    default:
      return true;
  }
}

}  // namespace

std::optional<ProcStat> ParseStat(std::string_view bytes) {
  // The comm may itself hold blanks and parentheses; it runs from the first
  // '(' to the last ')', which the kernel writes right after it.
  // The last ')' is searched with memrchr: the line is read thousands of
  // times per check, and the comm ends near its start.
  const std::size_t open = bytes.find('(');
  const void* last = bytes.empty() ? nullptr : ::memrchr(bytes.data(), ')', bytes.size());
  if (open == std::string_view::npos || last == nullptr || open == 0 || bytes[open - 1] != ' ') {
    return std::nullopt;
  }
  const auto close = static_cast<std::size_t>(static_cast<const char*>(last) - bytes.data());
  if (close < open) return std::nullopt;
  ProcStat stat;
  if (!ParseUnsigned(bytes.substr(0, open - 1), &stat.pid)) return std::nullopt;
  stat.comm = bytes.substr(open + 1, close - open - 1);
  FieldCursor cursor(bytes.substr(close + 1));
  for (std::size_t index = 0; index <= kStartTicksIndex; ++index) {
    const std::string_view field = cursor.Next();
    if (field.empty() || !StoreField(index, field, &stat)) return std::nullopt;
  }
  return stat;
}

bool IsRunningState(char state, std::uint32_t threads) {
  if (state == 'Z') return threads > 1;
  return state != 'X' && state != 'x';
}

bool IsKernelThread(std::uint32_t flags) { return (flags & kKernelThreadFlag) != 0; }

std::optional<std::uint32_t> ParsePidName(std::string_view name) {
  if (name.empty() || name[0] == '0') return std::nullopt;
  std::uint64_t pid = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + static_cast<std::uint64_t>(c - '0');
    if (pid > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(pid);
}

std::vector<std::string_view> SplitCmdline(std::string_view bytes) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\0', at);
    if (end == std::string_view::npos) end = bytes.size();
    words.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view StripExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return name;
  return name.substr(0, dot);
}

bool CommMayBeCut(std::string_view comm) { return comm.size() >= kCommCutLength; }

std::string_view ProgramName(std::string_view comm, std::string_view cmdline) {
  if (!CommMayBeCut(comm)) return comm;
  for (std::string_view word : SplitCmdline(cmdline)) {
    const std::string_view base = BaseName(word);
    if (base.starts_with(comm)) return base;
  }
  return comm;
}

std::string_view CutInstanceName(std::string_view name) {
  if (name.size() <= kMaxInstanceNameBytes) return name;
  std::size_t end = kMaxInstanceNameBytes;
  // Back to the start of the sequence the cut would split; a sequence is at
  // most four bytes long, so ill-formed text is cut where it must be.
  while (end > kMaxInstanceNameBytes - 3 &&
         (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
    --end;
  }
  return name.substr(0, end);
}

std::string_view InstanceName(std::string_view comm, std::string_view cmdline) {
  return CutInstanceName(StripExtension(ProgramName(comm, cmdline)));
}

namespace {

// The value of the /proc/PID/status line that starts with `key`, its
// leading blanks and tabs removed; nullopt when there is no such line.
std::optional<std::string_view> StatusField(std::string_view status, std::string_view key) {
  for (std::size_t at = 0; at < status.size();) {
    std::size_t end = status.find('\n', at);
    if (end == std::string_view::npos) end = status.size();
    std::string_view line = status.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(key)) continue;
    line.remove_prefix(key.size());
    while (!line.empty() && (line[0] == '\t' || line[0] == ' ')) line.remove_prefix(1);
    return line;
  }
  return std::nullopt;
}

// `text` as a whole number in `base`; nullopt for anything else.
template <typename T>
std::optional<T> WholeNumber(std::string_view text, int base) {
  T value = 0;
  const char* last = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), last, value, base);
  if (text.empty() || ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

}  // namespace

std::optional<bool> EffectiveCapKill(std::string_view status) {
  constexpr std::uint64_t kCapKillBit = std::uint64_t{1} << 5;
  const std::optional<std::string_view> field = StatusField(status, "CapEff:");
  const std::optional<std::uint64_t> mask =
      field ? WholeNumber<std::uint64_t>(*field, 16) : std::nullopt;
  if (!mask) return std::nullopt;
  return (*mask & kCapKillBit) != 0;
}

std::optional<std::uint32_t> StatusTgid(std::string_view status) {
  const std::optional<std::string_view> field = StatusField(status, "Tgid:");
  return field ? WholeNumber<std::uint32_t>(*field, 10) : std::nullopt;
}

FileTime TicksTo100ns(std::uint64_t ticks, std::uint64_t ticksPerSecond) {
  if (ticksPerSecond == 0) return 0;
  // Whole seconds first, so that large tick counts cannot overflow.
  return ticks / ticksPerSecond * kTicks100nsPerSecond +
         ticks % ticksPerSecond * kTicks100nsPerSecond / ticksPerSecond;
}

std::optional<FileTime> StartTicksToFileTime(std::uint64_t startTicks, std::uint64_t ticksPerSecond,
                                             std::int64_t realtimeNs, std::int64_t boottimeNs) {
  if (ticksPerSecond == 0) return std::nullopt;
  const std::int64_t bootWall100ns = (realtimeNs - boottimeNs) / 100;
  const std::int64_t unix100ns =
      bootWall100ns + static_cast<std::int64_t>(TicksTo100ns(startTicks, ticksPerSecond));
  std::int64_t seconds = unix100ns / kTicks100nsPerSecond;
  std::int64_t fraction = unix100ns % kTicks100nsPerSecond;
  if (fraction < 0) {
    fraction += kTicks100nsPerSecond;
    --seconds;
  }
  return UnixToFileTime(seconds, static_cast<std::uint32_t>(fraction));
}

}  // namespace zw::posix
