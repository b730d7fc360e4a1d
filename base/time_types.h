// The platform's time values, shared by the interface, the backends, the
// /proc library and the kill tool: plain data, below every layer.
#pragma once

#include <cstdint>

namespace zw {

/// 100-nanosecond intervals since 1601-01-01 00:00 UTC.
using FileTime = std::uint64_t;

/// A calendar record, as FileTimeToSystemTime fills it.
struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;  // 1..12
  std::uint16_t dayOfWeek = 0;
  std::uint16_t day = 0;  // 1..31
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

}  // namespace zw
