#include "platform/common/target_identity.h"

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
  return std::to_string(target.pid) + ":" + std::to_string(target.creation);
}

std::optional<TargetIdentity> ParseTarget(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto pid = ParseDecimal<std::uint32_t>(text.substr(0, colon));
  const auto creation = ParseDecimal<FileTime>(text.substr(colon + 1));
  if (!pid || !creation || *pid == 0 || *creation == 0) return std::nullopt;
  return TargetIdentity{*pid, *creation};
}

bool SameCreation(FileTime a, FileTime b) { return (a > b ? a - b : b - a) <= kCreationTolerance; }

}  // namespace zw
