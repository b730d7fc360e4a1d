#include "state/journal_output.h"

#include <gtest/gtest.h>

#include <vector>

#include "state/event_log_output.h"

namespace zw {
namespace {

TEST(JournalOutput, PriorityPrefixes) {
  const auto out = StandardStream::kOutput;
  const auto err = StandardStream::kError;
  const struct {
    StandardStream stream;
    bool journal;
    std::vector<std::string_view> writes;
    std::string expected;
  } cases[] = {
      {out,
       true,
       {"Prozess beendet: A.EXE, 7  (Laufzeit= 9 Sekunden)\n"},
       "<5>Prozess beendet: A.EXE, 7  (Laufzeit= 9 Sekunden)\n"},
      {out, true, {"Prozess nicht beendet: A.EXE, 7\n"}, "<4>Prozess nicht beendet: A.EXE, 7\n"},
      {out, true, {"CreateProcess failed with 2\n"}, "<3>CreateProcess failed with 2\n"},
      {out, true, {"Anzahl Prozesse 3\n"}, "<6>Anzahl Prozesse 3\n"},
      {out, true, {"Pruefe A (MaxRunTime = 5)\n"}, "<6>Pruefe A (MaxRunTime = 5)\n"},
      // Every line of a message, and a line written in parts only once.
      {out,
       true,
       {"Prozess: /A/1/2/A/\nProzess beendet: B\n"},
       "<6>Prozess: /A/1/2/A/\n<5>Prozess beendet: B\n"},
      {out, true, {"Prozess beendet: ", "A\n", "x\n"}, "<5>Prozess beendet: A\n<6>x\n"},
      {err,
       true,
       {"zeitwache: no watch list ZEITWACHE.INI in /x; nothing is watched\n"},
       "<4>zeitwache: no watch list ZEITWACHE.INI in /x; nothing is watched\n"},
      {err,
       true,
       {"zeitwache: unknown option --x\n",
        "Usage: zeitwache [/D]\n       zeitwache --help | --version\n"},
       "<3>zeitwache: unknown option --x\n<3>Usage: zeitwache [/D]\n"
       "<3>       zeitwache --help | --version\n"},
      // Anywhere else the bytes stay as they are.
      {out, false, {"Prozess beendet: A\n"}, "Prozess beendet: A\n"},
      {err, false, {"zeitwache: unknown option --x\n"}, "zeitwache: unknown option --x\n"},
  };
  for (const auto& c : cases) {
    StringOutput inner;
    JournalOutput journal(inner, c.stream, c.journal);
    for (const std::string_view text : c.writes) journal.Write(text);
    EXPECT_EQ(inner.text(), c.expected);
  }
}

struct RecordingLog final : EventLog {
  void Report(EventType type, std::string_view text) override {
    entries.push_back(std::to_string(static_cast<int>(type)) + " " + std::string(text));
  }
  std::vector<std::string> entries;
};

// Terminations, failures and refusals become entries, each line whole;
// the stream gets every byte.
TEST(EventLogOutput, NoticeAndAboveBecomeEntries) {
  RecordingLog log;
  StringOutput out;
  StringOutput err;
  EventLogOutput output(out, StandardStream::kOutput, &log);
  EventLogOutput errors(err, StandardStream::kError, &log);
  for (const char* text : {"Pruefe A (MaxRunTime = 5)\n", "Prozess beendet: ", "A.EXE, 7\n",
                           "Prozess nicht beendet: B.EXE, 8\nCreateProcess failed with 2\n"}) {
    output.Write(text);
  }
  errors.Write("zeitwache: unknown option --x\n");
  errors.Write("zeitwache: no watch list\n");
  EXPECT_EQ(log.entries, (std::vector<std::string>{
                             "0 Prozess beendet: A.EXE, 7", "1 Prozess nicht beendet: B.EXE, 8",
                             "2 CreateProcess failed with 2", "2 zeitwache: unknown option --x",
                             "1 zeitwache: no watch list"}));
  EXPECT_EQ(out.text(),
            "Pruefe A (MaxRunTime = 5)\nProzess beendet: A.EXE, 7\n"
            "Prozess nicht beendet: B.EXE, 8\nCreateProcess failed with 2\n");
}

}  // namespace
}  // namespace zw
