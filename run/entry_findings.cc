#include "run/entry_findings.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "base/ascii.h"
#include "enforce/check.h"
#include "enforce/dry_run.h"
#include "enforce/marking.h"
#include "enforce/terminate.h"
#include "run/limit.h"

namespace zw {
namespace {

constexpr std::size_t kShownValueLength = 64;
// Names shown with the count of matching processes.
constexpr std::size_t kShownMatches = 3;

void LimitFindings(unsigned n, std::string_view limit, std::uint32_t used,
                   std::vector<std::string>& findings) {
  const Limit parsed = ParseLimit(limit);
  if (parsed.form == LimitForm::kSeconds) return;
  if (parsed.form == LimitForm::kLegacy && AllDigits(limit)) {
    findings.push_back(Formatted("AKT%03u=%s ist groesser als %ld; ein Lauf nimmt %u", n,
                                 Shown(limit).c_str(), kLargestLimit, used));
    return;
  }
  findings.push_back(Formatted("AKT%03u=%s ist keine Zahl von Sekunden; ein Lauf nimmt %u", n,
                               Shown(limit).c_str(), used));
}

// What a name holds that a run reads otherwise than its writer may think.
void NameFindings(unsigned n, const std::string& name, std::vector<std::string>& findings) {
  if (name.empty()) {
    findings.push_back(
        Formatted("PGM%03u ist leer; passt auf jeden Prozess, ein Lauf findet damit "
                  "nichts",
                  n));
    return;
  }
  const std::string text = Shown(name);
  const char* shown = text.c_str();
  if (name.size() == 1 && !IsPattern(name)) {
    findings.push_back(
        Formatted("PGM%03u=%s hat nur ein Zeichen; passt auf jeden Prozess, dessen Name so beginnt",
                  n, shown));
  }
  if (name.find(';') != std::string::npos) {
    findings.push_back(Formatted(
        "PGM%03u=%s enthaelt ';'; ein Kommentar hinter dem Namen gehoert zum Namen", n, shown));
  }
  if (name.find_first_of("/\\") != std::string::npos) {
    findings.push_back(Formatted(
        "PGM%03u=%s enthaelt einen Pfad; ein Prozessname hat keinen, der Eintrag passt nie", n,
        shown));
  }
  if (std::any_of(name.begin(), name.end(), [](char c) { return (c & 0x80) != 0; })) {
    findings.push_back(
        Formatted("PGM%03u=%s enthaelt Zeichen ausserhalb von ASCII; sie passen nur "
                  "in gleicher Schreibung",
                  n, shown));
  }
}

// As the check matches a surveyed slot: by the mark for a pattern, else
// by the upper-cased name's beginning.
bool Matches(const ProcessRecord& slot, const std::string& name, bool pattern) {
  if (pattern) return slot.mark == 1;
  std::string upper = slot.name;
  UpperCaseInPlace(upper);
  return upper.starts_with(name);
}

// Slots that name a process (not the idle and summary entries) and match.
std::vector<const ProcessRecord*> Matching(RunState& state, const std::string& name) {
  std::vector<const ProcessRecord*> matching;
  const bool pattern = IsPattern(name);
  const Inventory& inventory = state.inventory;
  for (std::uint32_t i = 0; i < inventory.processCount; ++i) {
    const ProcessRecord& slot = inventory.processTable[i];
    if (WhyPassOver(state, slot) == PassOver::kNoProcess) continue;
    if (Matches(slot, name, pattern)) matching.push_back(&slot);
  }
  return matching;
}

// Processes an entry could name: not the idle and summary entries, not the
// watchdog itself.
std::size_t RealProcesses(const RunState& state) {
  const Inventory& inventory = state.inventory;
  std::size_t count = 0;
  for (std::uint32_t i = 0; i < inventory.processCount; ++i) {
    const PassOver reason = WhyPassOver(state, inventory.processTable[i]);
    // A pattern never marks the watchdog itself.
    if (reason != PassOver::kNoProcess && reason != PassOver::kSelf) ++count;
  }
  return count;
}

void PrintMatches(RunState& state, const std::vector<const ProcessRecord*>& matching) {
  std::string names;
  for (std::size_t k = 0; k < matching.size() && k < kShownMatches; ++k) {
    names += (k == 0 ? ": " : ", ") + matching[k]->name;
  }
  if (matching.size() > kShownMatches) names += ", ...";
  Print(state.output, "  passt jetzt auf %u %s%s\n", static_cast<unsigned>(matching.size()),
        matching.size() == 1 ? "Prozess" : "Prozesse", names.c_str());
}

}  // namespace

std::string Shown(std::string_view value) {
  if (value.size() <= kShownValueLength) return std::string(value);
  return std::string(value.substr(0, kShownValueLength)) + "...";
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void EntryFindings(const std::map<std::string, KeyLine>& keys, std::span<const WatchEntry> entries,
                   std::vector<std::string>& findings) {
  for (unsigned n = 1; n <= entries.size(); ++n) {
    const WatchEntry& entry = entries[n - 1];
    const auto pgm = keys.find(EntryKey("PGM", n));
    const auto akt = keys.find(EntryKey("AKT", n));
    const std::optional<std::string_view> name =
        pgm == keys.end() ? std::nullopt : pgm->second.value;
    const std::optional<std::string_view> limit =
        akt == keys.end() ? std::nullopt : akt->second.value;
    if (limit && !limit->empty()) {
      LimitFindings(n, *limit, static_cast<std::uint32_t>(entry.limit), findings);
    }
    if (entry.limit != 0) {
      if (name) {
        NameFindings(n, entry.name, findings);
      } else {
        findings.push_back(Formatted("PGM%03u fehlt; ein Lauf sucht ein Programm namens none", n));
      }
    } else if (name && !name->empty() && !(limit && AllDigits(*limit))) {
      // A limit of 0 written as digits ends the list on purpose.
      findings.push_back(Formatted(
          "PGM%03u=%s wird nicht ueberwacht: AKT%03u fehlt oder ergibt 0; die Liste endet hier", n,
          Shown(*name).c_str(), n));
    }
  }
}

void SurveyEntry(RunState& state, const WatchEntry& entry, unsigned n,
                 std::vector<std::string>& findings) {
  std::string name = entry.name;
  SurveyProcesses(state, name);
  const std::vector<const ProcessRecord*> matching = Matching(state, name);
  PrintMatches(state, matching);
  // The empty name has its finding from the text already.
  if (name.empty()) return;
  const std::string shown = Shown(entry.name);
  if (matching.size() > 1 && matching.size() == RealProcesses(state)) {
    findings.push_back(Formatted("PGM%03u=%s passt auf jeden Prozess; ein Lauf findet damit nichts",
                                 n, shown.c_str()));
    return;
  }
  // The first slot that matches at all decides, as in a run's scan.
  const Inventory& inventory = state.inventory;
  const auto end = inventory.processTable.begin() + inventory.processCount;
  const bool pattern = IsPattern(name);
  const auto first =
      std::find_if(inventory.processTable.begin(), end,
                   [&](const ProcessRecord& slot) { return Matches(slot, name, pattern); });
  if (first == end) return;
  const PassOver reason = WhyPassOver(state, *first);
  std::string firstName = first->name;
  UpperCaseInPlace(firstName);
  if (reason == PassOver::kNoProcess) {
    findings.push_back(
        Formatted("PGM%03u=%s passt zuerst auf %s, keinen Prozess; ein Lauf findet "
                  "damit nichts",
                  n, shown.c_str(), firstName.c_str()));
  } else if (reason == PassOver::kCritical) {
    findings.push_back(
        Formatted("PGM%03u=%s passt zuerst auf den Systemprozess %s, %d; ein Lauf "
                  "uebergeht ihn",
                  n, shown.c_str(), firstName.c_str(), static_cast<int>(first->pid)));
  }
}

void KillFindings(RunState& state, std::vector<std::string>& findings) {
  bool own = false;
  const std::string program = TellKillCommand(state, &own);
  if (program.empty()) {
    findings.push_back("kein kill gefunden; ein Lauf kann nichts beenden");
  } else if (!own) {
    findings.push_back(program +
                       " ist nicht das kill von ZEITWACHE: kein SIGKILL nach der Frist, keine "
                       "Pruefung, ob es noch derselbe Prozess ist");
  }
}

}  // namespace zw
