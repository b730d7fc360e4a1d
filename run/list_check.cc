#include "run/list_check.h"

#include "platform/list_format/profile_reader.h"
#include "run/entry_findings.h"
#include "run/run.h"

namespace zw {
namespace {

// The directory part of `path`; the root keeps its separator.
std::string DirectoryOf(const std::string& path, char separator) {
  const std::size_t at = path.rfind(separator);
  if (at == std::string::npos) return ".";
  std::string directory = path.substr(0, at);
  if (directory.empty() || directory.back() == ':') directory += separator;
  return directory;
}

// Why others could change what the list holds, one finding each; empty
// when no one can. `*error` is set when that cannot be judged.
std::vector<std::string> TrustFindingsOf(Platform& platform, const std::string& path,
                                         std::uint32_t* error) {
  std::vector<std::string> findings;
  *error = platform.JudgeFileTrust(path.c_str(), &findings);
  if (*error != kErrorSuccess) findings.clear();
  return findings;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : "; ") + part;
  return joined;
}

// Whoever may change the program's folder may replace the kill command a
// run starts from there. Judged by the check only: a run does not start
// from another folder because of it.
std::optional<std::string> ProgramFolderFinding(Platform& platform) {
  const std::string folder = platform.ProgramDirectory();
  bool writable = false;
  if (folder.empty() || !platform.WritableByOthers(folder.c_str(), &writable) || !writable) {
    return std::nullopt;
  }
  return folder + " ist fuer andere Benutzer schreibbar";
}

// What a missing or unreadable list is called, for both reports.
bool IsNotFound(std::uint32_t error) {
  return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

// Reads the entries as a run does, up to the one that ends the list, and
// prints each watched one with the processes it matches now; what the
// survey finds is added to `surveyed`.
std::vector<WatchEntry> SurveyEntries(RunState& state, const std::string& path,
                                      std::vector<std::string>& surveyed) {
  std::vector<WatchEntry> entries;
  for (unsigned n = 1;; ++n) {
    entries.push_back(ReadEntry(state.platform, path, n));
    const WatchEntry& entry = entries.back();
    if (entry.limit != 0) {
      const bool pattern = entry.name.find_first_of("*?") != std::string::npos;
      Print(state.output, "Eintrag %03u: %s %s, Grenze %u Sekunden\n", n,
            pattern ? "Muster" : "Name", entry.name.c_str(),
            static_cast<std::uint32_t>(entry.limit));
      SurveyEntry(state, entry, n, surveyed);
    }
    if (EndsList(entry, n)) return entries;
  }
}

// What a privileged check finds in who may change the list and the
// program's folder.
std::vector<std::string> TrustFindings(Platform& platform, const std::string& path) {
  std::vector<std::string> findings;
  std::uint32_t trustError = kErrorSuccess;
  for (const std::string& why : TrustFindingsOf(platform, path, &trustError)) {
    findings.push_back("Liste abgelehnt: " + why);
  }
  if (const std::optional<std::string> folder = ProgramFolderFinding(platform)) {
    findings.push_back(*folder);
  }
  if (trustError != kErrorSuccess) {
    findings.push_back(
        Formatted("Rechte von %s nicht lesbar (Fehler %u)", path.c_str(), trustError));
  }
  return findings;
}

// For a run: the line for a list that cannot be read. False when it can,
// and when it is only too large to check whole: the run reads it as the
// system reads any profile, which on Linux reads no list that large, so
// the run says that entries may be missed rather than nothing at all.
bool NoteUnopenedList(RunState& state, const std::string& path) {
  Platform& platform = state.platform;
  std::string text;
  const std::uint32_t error = platform.ReadWholeFile(path.c_str(), kListSizeLimit, &text);
  if (error == kErrorNotEnoughMemory) {
    Print(state.errors,
          "zeitwache: watch list %s is larger than %u MiB (error %u); entries may be missed\n",
          path.c_str(), static_cast<std::uint32_t>(kListSizeLimit >> 20), error);
  }
  if (error == kErrorSuccess || error == kErrorNotEnoughMemory) return false;
  if (IsNotFound(error)) {
    Print(state.errors, "zeitwache: no watch list %s in %s; nothing is watched\n", kWatchListName,
          DirectoryOf(path, platform.PathSeparator()).c_str());
  } else {
    Print(state.errors, "zeitwache: watch list %s cannot be read (error %u); nothing is watched\n",
          path.c_str(), error);
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadListFile(Platform& platform, const std::string& path,
                                        std::uint32_t* error) {
  std::string content;
  *error = platform.ReadWholeFile(path.c_str(), kListSizeLimit, &content);
  if (*error != kErrorSuccess) return std::nullopt;
  return content;
}

int CheckWatchList(RunState& state, const std::optional<std::string>& path, bool privileged) {
  Output& out = state.output;
  int findings = 0;
  const auto finding = [&](const std::string& text) {
    Print(out, "Befund: %s\n", text.c_str());
    ++findings;
  };
  if (!path) {
    finding("das aktuelle Verzeichnis ist nicht lesbar oder sein Name zu lang");
    Print(out, "Anzahl Befunde %d\n", findings);
    return kExitCheckNoList;
  }
  Print(out, "Liste %s\n", path->c_str());
  std::uint32_t error = 0;
  const std::optional<std::string> text = ReadListFile(state.platform, *path, &error);
  if (!text) {
    finding(IsNotFound(error)
                ? Formatted("keine Liste %s in %s", kWatchListName,
                            DirectoryOf(*path, state.platform.PathSeparator()).c_str())
                : Formatted("Liste %s nicht lesbar (Fehler %u)", path->c_str(), error));
    Print(out, "Anzahl Befunde %d\n", findings);
    return kExitCheckNoList;
  }
  std::vector<std::string> surveyed;
  const std::vector<WatchEntry> entries = SurveyEntries(state, *path, surveyed);
  KillFindings(state, surveyed);
  for (const std::string& text : ListTextFindings(*text, entries)) finding(text);
  for (const std::string& text : surveyed) finding(text);
  if (privileged) {
    for (const std::string& text : TrustFindings(state.platform, *path)) finding(text);
  }
  Print(out, "Anzahl Befunde %d\n", findings);
  return findings == 0 ? kExitCheckClean : kExitCheckFindings;
}

bool NoteListProblems(RunState& state, const std::optional<std::string>& path, bool privileged) {
  Platform& platform = state.platform;
  if (!path) {
    Print(state.errors,
          "zeitwache: the current directory cannot be read or its name is too long; "
          "nothing is watched\n");
    return true;
  }
  if (NoteUnopenedList(state, *path)) return true;
  std::uint32_t error = kErrorSuccess;
  const std::vector<std::string> findings = TrustFindingsOf(platform, *path, &error);
  if (!privileged) {
    if (!findings.empty()) {
      Print(state.errors, "zeitwache: other users can change the watch list: %s\n",
            Joined(findings).c_str());
    }
    return true;
  }
  if (error != kErrorSuccess) {
    Print(state.errors,
          "zeitwache: watch list %s refused: who may change it cannot be read (error %u)\n",
          path->c_str(), error);
    return false;
  }
  if (findings.empty()) return true;
  // Whoever may change the list, or swap a directory above it, decides what
  // a privileged run ends.
  Print(state.errors,
        "zeitwache: watch list refused: %s; make it and every directory above it owned by "
        "root and writable by no one else\n",
        Joined(findings).c_str());
  return false;
}

}  // namespace zw
