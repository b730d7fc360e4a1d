#include "run/limit.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace zw {
namespace {

// 64 bits: an hour count times 3600 must not overflow where long has 32.
using Wide = std::int64_t;
constexpr Wide kMinute = 60;
constexpr Wide kHour = 60 * kMinute;
constexpr Wide kDay = 24 * kHour;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The leading digits of `*text`, taken off it, as a number no larger than
// kLargestLimit; nullopt without digits or when larger.
std::optional<Wide> TakeNumber(std::string_view* text) {
  std::size_t at = 0;
  Wide value = 0;
  while (at < text->size() && IsDigit((*text)[at])) {
    value = value * 10 + ((*text)[at] - '0');
    if (value > kLargestLimit) return std::nullopt;
    ++at;
  }
  if (at == 0) return std::nullopt;
  text->remove_prefix(at);
  return value;
}

// The seconds of one unit, or 0 when `unit` is none.
Wide UnitSeconds(std::string_view unit) {
  std::string lower(unit);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower == "s") return 1;
  if (lower == "m" || lower == "min") return kMinute;
  if (lower == "h") return kHour;
  if (lower == "d") return kDay;
  return 0;
}

// Two digits below 60 after a colon, taken off `*text`.
std::optional<Wide> TakeSixty(std::string_view* text) {
  if (text->size() < 3 || (*text)[0] != ':' || !IsDigit((*text)[1]) || !IsDigit((*text)[2])) {
    return std::nullopt;
  }
  const Wide value = ((*text)[1] - '0') * 10 + ((*text)[2] - '0');
  text->remove_prefix(3);
  return value < 60 ? std::optional<Wide>(value) : std::nullopt;
}

std::optional<Limit> ParseClock(Wide first, std::string_view rest) {
  const std::optional<Wide> second = TakeSixty(&rest);
  if (!second) return std::nullopt;
  if (rest.empty()) {
    const Wide total = first * kMinute + *second;
    if (total > kLargestLimit) return std::nullopt;
    return Limit{static_cast<long>(total), LimitForm::kClock};
  }
  const std::optional<Wide> third = TakeSixty(&rest);
  if (!third || !rest.empty()) return std::nullopt;
  const Wide total = first * kHour + *second * kMinute + *third;
  if (total > kLargestLimit) return std::nullopt;
  return Limit{static_cast<long>(total), LimitForm::kClock};
}

std::optional<Limit> ParseMeant(std::string_view text) {
  std::optional<Wide> number = TakeNumber(&text);
  if (!number) return std::nullopt;
  if (text.empty()) return Limit{static_cast<long>(*number), LimitForm::kSeconds};
  if (text.front() == ':') return ParseClock(*number, text);
  const Wide unit = UnitSeconds(Trimmed(text));
  if (unit == 0 || *number * unit > kLargestLimit) return std::nullopt;
  return Limit{static_cast<long>(*number * unit), LimitForm::kWithUnit};
}

// atol over the first kLegacyLimitChars characters.
long LegacyReading(std::string_view text) {
  const std::string head(text.substr(0, kLegacyLimitChars));
  return std::strtol(head.c_str(), nullptr, 10);
}

}  // namespace

Limit ParseLimit(std::string_view text) {
  if (const std::optional<Limit> meant = ParseMeant(Trimmed(text))) return *meant;
  return Limit{LegacyReading(text), LimitForm::kLegacy};
}

}  // namespace zw
