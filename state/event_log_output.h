// Lines for the Windows event log. The log lines an administrator filters
// for (terminations, failures, refusals: the journal's priorities notice and
// above) also become event log entries; everything still goes to the
// stream, byte for byte.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "state/output.h"

namespace zw {

/// Passes everything to `inner` and reports each finished line whose
/// JournalPriority is notice or above to `log` (none when nullptr).
class EventLogOutput final : public Output {
 public:
  EventLogOutput(Output& inner, StandardStream stream, EventLog* log)
      : inner_(inner), stream_(stream), log_(log) {}
  void Write(std::string_view text) override;

 private:
  Output& inner_;
  StandardStream stream_;
  EventLog* log_;
  /// The start of a line whose end has not been written yet.
  std::string partial_;
};

}  // namespace zw
