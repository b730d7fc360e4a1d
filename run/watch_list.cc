#include "run/watch_list.h"

#include <cstdio>

#include "run/limit.h"

namespace zw {
namespace {

constexpr std::uint32_t kNameBufferSize = 256;

}  // namespace

std::string EntryKey(const char* prefix, unsigned n) {
  char key[16];
  std::snprintf(key, sizeof key, "%s%03u", prefix, n);
  return key;
}

WatchEntry ReadEntry(Platform& platform, const std::string& path, unsigned n) {
  char name[kNameBufferSize];
  char limit[kLimitChars + 1];
  WatchEntry entry;
  platform.GetPrivateProfileStringA(kWatchListSection, EntryKey("PGM", n).c_str(), "none", name,
                                    sizeof name, path.c_str());
  entry.limitChars = platform.GetPrivateProfileStringA(
      kWatchListSection, EntryKey("AKT", n).c_str(), "000000", limit, sizeof limit, path.c_str());
  name[sizeof name - 1] = '\0';
  limit[sizeof limit - 1] = '\0';
  entry.name = name;
  entry.limit = ParseLimit(limit).seconds;
  return entry;
}

bool EndsList(const WatchEntry& entry, unsigned n) {
  return entry.limitChars == 0 || entry.limit == 0 || n >= kLastEntry;
}

}  // namespace zw
