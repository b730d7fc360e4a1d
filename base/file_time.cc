#include "base/file_time.h"

namespace zw {
namespace {

// Days since 1970-01-01 of a civil date, and back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(std::int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool FileTimeToCalendar(FileTime fileTime, SystemTime* t) {
  if (fileTime >= (FileTime{1} << 63)) return false;
  const auto totalSeconds = static_cast<std::int64_t>(fileTime / kFileTimeTicksPerSecond);
  const std::int64_t unixSeconds = totalSeconds - kFileTimeUnixEpochSeconds;
  std::int64_t days = unixSeconds / 86400;
  std::int64_t secondOfDay = unixSeconds % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  t->year = static_cast<std::uint16_t>(year);
  t->month = static_cast<std::uint16_t>(month);
  t->day = static_cast<std::uint16_t>(day);
  // 1970-01-01 was a Thursday (4).
  t->dayOfWeek = static_cast<std::uint16_t>(((days % 7) + 11) % 7);
  t->hour = static_cast<std::uint16_t>(secondOfDay / 3600);
  t->minute = static_cast<std::uint16_t>(secondOfDay / 60 % 60);
  t->second = static_cast<std::uint16_t>(secondOfDay % 60);
  t->milliseconds = static_cast<std::uint16_t>(fileTime % kFileTimeTicksPerSecond / 10000);
  return true;
}

std::optional<std::int64_t> CalendarToUnixSeconds(const SystemTime& t) {
  if (t.year < 1601 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59) {
    return std::nullopt;
  }
  const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

std::optional<FileTime> UnixToFileTime(std::int64_t unixSeconds, std::uint32_t fraction100ns) {
  const std::int64_t since1601 = unixSeconds + kFileTimeUnixEpochSeconds;
  if (since1601 < 0 || fraction100ns >= kFileTimeTicksPerSecond) return std::nullopt;
  return static_cast<FileTime>(since1601) * kFileTimeTicksPerSecond + fraction100ns;
}

}  // namespace zw
