#include "run/run.h"

#include <cstdio>
#include <cstdlib>

#include "enforce/check.h"

namespace zw {
namespace {

constexpr std::uint32_t kPathBufferSize = 260;
constexpr std::uint32_t kNameBufferSize = 256;
// Six characters of limit and the terminator: a longer value is read as its
// first six characters.
constexpr std::uint32_t kLimitBufferSize = 7;
constexpr const char* kSection = "PGM";
// Key names are built for at most four-digit entry numbers.
constexpr unsigned kLastEntry = 9999;

bool IsVerboseSwitch(std::string_view arg) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && (arg[1] == 'D' || arg[1] == 'd');
}

// What atol gives for the buffer: blanks skipped, a sign, then digits up to
// the first other character; 0 without digits.
long ConvertLimit(const char* text) { return std::strtol(text, nullptr, 10); }

struct WatchEntry {
  std::string name;
  long limit = 0;
  std::uint32_t limitChars = 0;
};

WatchEntry ReadEntry(Platform& platform, const std::string& path, unsigned n) {
  char key[8];
  char name[kNameBufferSize];
  char limit[kLimitBufferSize];
  WatchEntry entry;
  std::snprintf(key, sizeof key, "PGM%03u", n);
  platform.GetPrivateProfileStringA(kSection, key, "none", name, sizeof name, path.c_str());
  std::snprintf(key, sizeof key, "AKT%03u", n);
  entry.limitChars =
      platform.GetPrivateProfileStringA(kSection, key, "000000", limit, sizeof limit, path.c_str());
  name[sizeof name - 1] = '\0';
  limit[sizeof limit - 1] = '\0';
  entry.name = name;
  entry.limit = ConvertLimit(limit);
  return entry;
}

}  // namespace

int ParseCommandLine(std::span<const std::string_view> args) {
  int verbose = 0;
  for (std::string_view arg : args) {
    if (IsVerboseSwitch(arg)) verbose = 1;
  }
  return verbose;
}

int EnableDebugPrivilege(RunState& state) {
  Platform& platform = state.platform;
  // The token stays open for the life of the process; the privilege lives
  // in it.
  Handle token = Handle::kNull;
  if (!platform.OpenProcessToken(platform.GetCurrentProcess(), kTokenAdjustPrivileges | kTokenQuery,
                                 &token)) {
    Print(state.output, "OpenProcessToken failed with %d\n",
          static_cast<int>(platform.GetLastError()));
    return 0;
  }
  Luid luid;
  if (!platform.LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &luid)) {
    Print(state.output, "LookupPrivilegeValue failed with %d\n",
          static_cast<int>(platform.GetLastError()));
    return 0;
  }
  // The call succeeds even when the privilege was not given; only the last
  // error tells.
  platform.AdjustTokenPrivileges(token, false, luid, kSePrivilegeEnabled);
  const std::uint32_t error = platform.GetLastError();
  if (error != 0) {
    Print(state.output, "AdjustTokenPrivileges failed with %d\n", static_cast<int>(error));
    return 0;
  }
  return 1;
}

std::optional<std::string> WatchListPath(Platform& platform) {
  char directory[kPathBufferSize];
  const std::uint32_t length = platform.GetCurrentDirectoryA(sizeof directory, directory);
  const std::size_t nameLength = std::char_traits<char>::length(kWatchListName);
  // Room for the separator, the name and the terminator.
  if (length == 0 || length + 1 + nameLength + 1 > kPathBufferSize) return std::nullopt;
  std::string path(directory, length);
  path += platform.PathSeparator();
  path += kWatchListName;
  return path;
}

int RunWatchList(RunState& state, const std::optional<std::string>& path) {
  unsigned n = 0;
  while (path) {
    ++n;
    WatchEntry entry = ReadEntry(state.platform, *path, n);
    if (entry.limit != 0) {
      if (state.verbose == 1) {
        Print(state.output, "Pruefe %s (MaxRunTime = %d)\n", entry.name.c_str(),
              static_cast<int>(entry.limit));
      }
      const auto limit = static_cast<std::uint32_t>(entry.limit);
      if (CheckWatchEntry(state, entry.name, limit) == CheckResult::kHandled) n = 0;
    }
    if (entry.limitChars == 0 || entry.limit == 0 || n >= kLastEntry) break;
  }
  Print(state.output, "Anzahl Prozesse %d\n", static_cast<int>(state.inventory.processCount));
  return kExitCode;
}

int Main(std::span<const std::string_view> args, Platform& platform, Output& output) {
  RunState state(platform, output);
  state.verbose = ParseCommandLine(args);
  EnableDebugPrivilege(state);
  return RunWatchList(state, WatchListPath(platform));
}

}  // namespace zw
