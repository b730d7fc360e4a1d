#include "state/event_log_output.h"

#include <algorithm>

#include "state/journal_output.h"

namespace zw {
namespace {

// No longer than any line the tool writes; a line without end cannot grow
// the buffer without bound.
constexpr std::size_t kMaxLine = 4096;

void ReportLine(EventLog& log, std::string_view line, StandardStream stream) {
  const std::string_view priority = JournalPriority(line, stream);
  if (priority == "<6>") return;
  const EventType type = priority == "<5>"   ? EventType::kInformation
                         : priority == "<4>" ? EventType::kWarning
                                             : EventType::kError;
  log.Report(type, line);
}

}  // namespace

void EventLogOutput::Write(std::string_view text) {
  inner_.Write(text);
  if (log_ == nullptr) return;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      partial_.append(text.substr(0, kMaxLine - std::min(kMaxLine, partial_.size())));
      return;
    }
    partial_.append(text.substr(0, end));
    ReportLine(*log_, partial_, stream_);
    partial_.clear();
    text.remove_prefix(end + 1);
  }
}

}  // namespace zw
