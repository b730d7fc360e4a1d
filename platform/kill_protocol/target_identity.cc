#include "platform/kill_protocol/target_identity.h"

#include <charconv>
#include <limits>

namespace zw {
namespace {

// A plain decimal number, no sign, no leading zero unless it is "0".
template <typename T>
std::optional<T> ParseDecimal(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text.front() == '0')) return std::nullopt;
  T value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string FormatTarget(const TargetIdentity& target) {
  return std::to_string(target.pid) + ":" + std::to_string(target.start);
}

std::optional<TargetIdentity> ParseTarget(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto pid = ParseDecimal<std::uint32_t>(text.substr(0, colon));
  const auto start = ParseDecimal<std::uint64_t>(text.substr(colon + 1));
  if (!pid || !start || *pid == 0 || *start == 0) return std::nullopt;
  return TargetIdentity{*pid, *start};
}

}  // namespace zw
