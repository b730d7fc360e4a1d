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
      {err,
       true,
       {"zeitwache: watch list /w/ZEITWACHE.INI refused: who may change it cannot be read\n"},
       "<3>zeitwache: watch list /w/ZEITWACHE.INI refused: who may change it cannot be read\n"},
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
    entries += std::to_string(static_cast<int>(type)) + " " + std::string(text) + "\n";
  }
  std::string entries;
};

// Terminations, failures and refusals become entries, each line whole; the
// stream gets every byte.
TEST(EventLogOutput, NoticeAndAboveBecomeEntries) {
  RecordingLog log;
  StringOutput out;
  EventLogOutput output(out, StandardStream::kOutput, &log);
  EventLogOutput errors(out, StandardStream::kError, &log);
  const char* const writes[] = {"Pruefe A\n", "Prozess beendet: ", "A\n",
                                "Prozess nicht beendet: B\nCreateProcess failed with 2\n"};
  for (const char* text : writes) output.Write(text);
  errors.Write("zeitwache: unknown option --x\nzeitwache: no watch list\n");
  EXPECT_EQ(log.entries,
            "0 Prozess beendet: A\n1 Prozess nicht beendet: B\n2 CreateProcess failed with 2\n"
            "2 zeitwache: unknown option --x\n1 zeitwache: no watch list\n");
  EXPECT_EQ(out.text(),
            "Pruefe A\nProzess beendet: A\nProzess nicht beendet: B\n"
            "CreateProcess failed with 2\nzeitwache: unknown option --x\n"
            "zeitwache: no watch list\n");
}

}  // namespace
}  // namespace zw
