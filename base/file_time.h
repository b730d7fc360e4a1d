// Conversions between the platform's FILETIME scale (100 ns since
// 1601-01-01 UTC), calendar records and C time values, as plain arithmetic
// on the proleptic Gregorian calendar, so they never depend on the time zone.
#pragma once

#include <cstdint>
#include <optional>

#include "base/time_types.h"

namespace zw {

inline constexpr std::uint64_t kFileTimeTicksPerSecond = 10'000'000;
/// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr std::int64_t kFileTimeUnixEpochSeconds = 11'644'473'600;

/// FileTimeToSystemTime: false for values of 2^63 and above, which the
/// platform rejects too.
bool FileTimeToCalendar(FileTime fileTime, SystemTime* systemTime);

/// Seconds since 1970-01-01 UTC of a calendar record (milliseconds and weekday
/// ignored); nullopt when a field is out of its range.
std::optional<std::int64_t> CalendarToUnixSeconds(const SystemTime& t);

/// The FILETIME of `unixSeconds` plus `fraction100ns`; nullopt before 1601.
std::optional<FileTime> UnixToFileTime(std::int64_t unixSeconds, std::uint32_t fraction100ns = 0);

}  // namespace zw
