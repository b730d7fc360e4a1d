// Reading the watch list's entries, the one way the watch run, the dry run
// and the list check all read them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace zw {

/// The section of the watch list that holds the entries.
inline constexpr const char* kWatchListSection = "PGM";

/// Key names are built for at most four-digit entry numbers.
inline constexpr unsigned kLastEntry = 9999;

/// Characters of a limit that are read: room for any value ParseLimit
/// reads as meant, with blanks around.
inline constexpr std::uint32_t kLimitChars = 63;

struct WatchEntry {
  /// PGMnnn, or "none" when the key is missing.
  std::string name;
  /// AKTnnn as ParseLimit reads it; 0 when missing.
  long limit = 0;
  /// Characters of AKTnnn read; 0 when missing or empty.
  std::uint32_t limitChars = 0;
};

/// The key of entry `n` with `prefix` ("PGM" or "AKT"): "PGM001".
std::string EntryKey(const char* prefix, unsigned n);

/// Reads entry `n` of the watch list at `path` through the platform.
WatchEntry ReadEntry(Platform& platform, const std::string& path, unsigned n);

/// Whether the list ends after entry `n`: its limit is empty or converts
/// to 0, or it is the last entry whose key names fit.
bool EndsList(const WatchEntry& entry, unsigned n);

}  // namespace zw
