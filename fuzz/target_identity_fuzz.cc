// The identity kill reads from ZEITWACHE_TARGET: the input is the value.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/kill_protocol/target_identity.h"

using zw::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<zw::TargetIdentity> target = zw::ParseTarget(text);
  if (!target) return 0;
  Require(target->pid != 0 && target->start != 0, "accepted a zero");
  // Only the canonical form is accepted, so it reads back to the same text.
  Require(zw::FormatTarget(*target) == text, "accepted text is not the canonical form");
  return 0;
}
