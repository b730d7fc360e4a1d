#include "state/journal_output.h"

#include <array>
#include <string>

namespace zw {
namespace {

struct PrefixRule {
  std::string_view start;
  std::string_view priority;
};

// The lines an administrator filters for; every other log line is info.
constexpr std::array kOutputRules{
    PrefixRule{"Prozess nicht beendet", "<4>"},
    PrefixRule{"Prozess beendet", "<5>"},
    PrefixRule{"CreateProcess failed", "<3>"},
};

// A refusal stops what was asked for: a refused command line with the usage
// that follows it, a command that is not started, a list that is not
// trusted, a run that cannot see the processes.
constexpr std::array kRefusalStarts{
    std::string_view{"zeitwache: unknown option"},
    std::string_view{"zeitwache: option "},
    std::string_view{"zeitwache: not starting"},
    std::string_view{"zeitwache: refus"},
    std::string_view{"zeitwache: watch list refused"},
    std::string_view{"zeitwache: the process list cannot be read"},
    std::string_view{"Usage: "},
    std::string_view{"       zeitwache "},
};

// "zeitwache: watch list PATH refused: ..." names the list first.
bool IsListRefusal(std::string_view line) {
  constexpr std::string_view kStart = "zeitwache: watch list ";
  const std::size_t colon = line.find(": ", kStart.size());
  return line.starts_with(kStart) && colon != std::string_view::npos &&
         line.substr(0, colon).ends_with(" refused");
}

}  // namespace

std::string_view JournalPriority(std::string_view line, StandardStream stream) {
  if (stream == StandardStream::kError) {
    for (const std::string_view start : kRefusalStarts) {
      if (line.starts_with(start)) return "<3>";
    }
    return IsListRefusal(line) ? "<3>" : "<4>";
  }
  for (const PrefixRule& rule : kOutputRules) {
    if (line.starts_with(rule.start)) return rule.priority;
  }
  return "<6>";
}

void JournalOutput::Write(std::string_view text) {
  if (!journal_) {
    inner_.Write(text);
    return;
  }
  std::string prefixed;
  prefixed.reserve(text.size() + 8);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(0, length);
    if (atLineStart_) prefixed += JournalPriority(line, stream_);
    prefixed += line;
    atLineStart_ = line.ends_with('\n');
    text.remove_prefix(length);
  }
  inner_.Write(prefixed);
}

}  // namespace zw
