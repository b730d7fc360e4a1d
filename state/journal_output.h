// Lines for the systemd journal. When a standard stream is connected to the
// journal, every line gets the priority prefix the journal reads and strips,
// so it stores the same text as a terminal shows, at a priority an
// administrator can filter by. The logic writes plain lines either way.
#pragma once

#include <string_view>

#include "platform/platform.h"
#include "state/output.h"

namespace zw {

/// The journal prefix ("<3>" to "<6>") of `line` written to `stream`:
/// terminations notice, failed terminations warning, a command that could
/// not be started error, every other log line info; on standard error a
/// refusal is an error and everything else a warning.
std::string_view JournalPriority(std::string_view line, StandardStream stream);

/// Passes everything to `inner`; when `journal` is set, each line first
/// gets its JournalPriority. A message is still one write.
class JournalOutput final : public Output {
 public:
  JournalOutput(Output& inner, StandardStream stream, bool journal)
      : inner_(inner), stream_(stream), journal_(journal) {}
  void Write(std::string_view text) override;

 private:
  Output& inner_;
  StandardStream stream_;
  bool journal_;
  /// False while a line written in part waits for its rest.
  bool atLineStart_ = true;
};

}  // namespace zw
