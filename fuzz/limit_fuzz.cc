// The limit reader over any text: every value it reads as meant is in range
// and reads back the same from its plain seconds, and anything else is what
// atol makes of the first six characters.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "run/limit.h"

using zw::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const zw::Limit limit = zw::ParseLimit(text);
  if (limit.form == zw::LimitForm::kLegacy) {
    const std::string head = text.substr(0, zw::kLegacyLimitChars);
    Require(limit.seconds == std::strtol(head.c_str(), nullptr, 10), "legacy reading differs");
    return 0;
  }
  Require(limit.seconds >= 0 && limit.seconds <= zw::kLargestLimit, "limit out of range");
  const zw::Limit again = zw::ParseLimit(std::to_string(limit.seconds));
  Require(again.form == zw::LimitForm::kSeconds && again.seconds == limit.seconds,
          "plain seconds do not read back");
  Require(limit.form != zw::LimitForm::kSeconds ||
              text.find_first_not_of(" \t0123456789") == std::string::npos,
          "plain seconds with other characters");
  return 0;
}
