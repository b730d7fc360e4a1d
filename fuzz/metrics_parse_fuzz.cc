// The metrics file a run finds at its path, which anyone who can write the
// collector's directory may have written: read without fault, and what is
// carried over is written back and read again unchanged.
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "report/metrics.h"

using zw::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const zw::MetricsRecord carried = zw::ParseMetrics(text);
  for (const auto& [entry, counts] : carried.terminations) {
    Require(zw::LabelValue(entry) == entry, "a carried entry is valid UTF-8");
  }
  const zw::MetricsRecord again = zw::ParseMetrics(zw::FormatMetrics(carried));
  Require(again.terminations == carried.terminations, "counters survive a rewrite");
  Require(again.endTime == carried.endTime && again.exitCode == carried.exitCode,
          "the last run's end and code survive a rewrite");
  return 0;
}
