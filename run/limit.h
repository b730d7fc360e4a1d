// Reading an entry's limit (AKTnnn) the way an administrator means it.
#pragma once

#include <string_view>

namespace zw {

/// The largest limit: what a signed 32-bit number of seconds holds.
inline constexpr long kLargestLimit = 2147483647;

/// The text of a limit as earlier versions read it, the first six characters.
inline constexpr std::size_t kLegacyLimitChars = 6;

enum class LimitForm {
  /// Digits only: seconds.
  kSeconds,
  /// Digits and a unit: "90s", "45min", "2h", "1d".
  kWithUnit,
  /// "H:MM:SS" or "MM:SS".
  kClock,
  /// Anything else: read as atol reads its first kLegacyLimitChars
  /// characters, so a value that worked before keeps working.
  kLegacy,
};

struct Limit {
  long seconds = 0;
  LimitForm form = LimitForm::kLegacy;
};

/// Reads `text` with blanks and tabs around it: plain seconds up to
/// kLargestLimit; a number with the unit s, m or min, h or d (in either
/// letter case, blanks allowed between) that comes to at most kLargestLimit;
/// H:MM:SS or MM:SS, where MM and SS are two digits below 60. Anything else
/// is kLegacy, which may be 0 (the list ends) or negative. Pure and total.
Limit ParseLimit(std::string_view text);

}  // namespace zw
