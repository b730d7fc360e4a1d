#include "run/list_check.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>

#include "base/ascii.h"
#include "platform/common/profile_reader.h"
#include "run/entry_findings.h"
#include "run/run.h"

namespace zw {
namespace {

constexpr std::uint32_t kReadChunk = 64 * 1024;

// A line number for printf: a list of at most kListSizeLimit bytes has
// fewer lines than an unsigned holds.
unsigned LineNumber(std::size_t line) { return static_cast<unsigned>(line); }

// Bytes from 0x80 up that all form well-made UTF-8 sequences, as an editor
// saving UTF-8 writes them; text in a single-byte code page rarely does.
bool LooksLikeUtf8(std::string_view line) {
  bool any = false;
  for (std::size_t i = 0; i < line.size();) {
    const auto lead = static_cast<unsigned char>(line[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || line.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(line[i + k]) & 0xC0) != 0x80) return false;
    }
    any = true;
    i += length;
  }
  return any;
}

// The numbers of the lines that look like UTF-8, counted as ScanProfile
// counts them.
std::vector<std::size_t> Utf8Lines(std::string_view text) {
  std::vector<std::size_t> lines;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find_first_of("\r\n");
    if (LooksLikeUtf8(text.substr(0, end))) lines.push_back(number);
    if (end == std::string_view::npos) break;
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crlf ? 2 : 1));
  }
  return lines;
}

// The first [PGM] section's keys, upper-cased, each with its first line;
// duplicate keys and sections are reported on the way.
std::map<std::string, KeyLine> SectionKeys(const std::vector<ProfileItem>& items,
                                           std::vector<std::string>& findings) {
  std::map<std::string, KeyLine> keys;
  bool seen = false;
  bool inside = false;
  for (const ProfileItem& item : items) {
    if (item.isSection) {
      const bool named = EqualIgnoringAsciiCase(item.name, kWatchListSection);
      if (named && seen) {
        findings.push_back(
            Format("Abschnitt [PGM] in Zeile %u doppelt; ein Lauf liest nur den ersten",
                   LineNumber(item.line)));
      }
      inside = named && !seen;
      seen = seen || named;
      continue;
    }
    if (!inside) continue;
    std::string key(item.name);
    UpperCaseInPlace(key);
    const auto [it, added] = keys.emplace(key, KeyLine{item.value, item.line});
    if (!added) {
      findings.push_back(Format("Schluessel %s in Zeile %u doppelt; es gilt Zeile %u",
                                Shown(item.name).c_str(), LineNumber(item.line),
                                LineNumber(it->second.line)));
    }
  }
  return keys;
}

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
  SecurityInfo info;
  if (folder.empty() || platform.GetNamedSecurityInfoA(folder.c_str(), &info) != kErrorSuccess ||
      !WritableByOthers(info)) {
    return std::nullopt;
  }
  return folder + " ist fuer andere Benutzer schreibbar";
}

// What a missing or unreadable list is called, for both reports.
bool IsNotFound(std::uint32_t error) {
  return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

}  // namespace

std::optional<std::string> ReadListFile(Platform& platform, const std::string& path,
                                        std::uint32_t* error) {
  const Handle file = platform.CreateFileA(path.c_str(), kGenericRead);
  if (file == Handle::kNull) {
    *error = platform.GetLastError();
    return std::nullopt;
  }
  std::string content;
  std::vector<char> chunk(kReadChunk);
  for (;;) {
    std::uint32_t read = 0;
    if (!platform.ReadFile(file, chunk.data(), kReadChunk, &read)) {
      *error = platform.GetLastError();
      platform.CloseHandle(file);
      return std::nullopt;
    }
    if (read == 0) break;
    content.append(chunk.data(), std::min<std::size_t>(read, kReadChunk));
    if (content.size() > kListSizeLimit) {
      *error = kErrorNotEnoughMemory;
      platform.CloseHandle(file);
      return std::nullopt;
    }
  }
  platform.CloseHandle(file);
  return content;
}

std::vector<std::string> ListTextFindings(std::string_view bytes,
                                          std::span<const WatchEntry> entries) {
  std::vector<std::string> findings;
  const std::string text = DecodeProfileText(bytes);
  const std::vector<ProfileItem> items = ScanProfile(text);
  const bool hasSection = std::any_of(items.begin(), items.end(), [](const ProfileItem& item) {
    return item.isSection && EqualIgnoringAsciiCase(item.name, kWatchListSection);
  });
  if (!hasSection) {
    std::string found;
    for (const ProfileItem& item : items) {
      if (!item.isSection) continue;
      found += found.empty() ? " (gefunden: [" : ", [";
      found += Shown(item.name) + "]";
    }
    if (!found.empty()) found += ")";
    findings.push_back("kein Abschnitt [PGM]" + found);
  } else {
    const std::map<std::string, KeyLine> keys = SectionKeys(items, findings);
    EntryFindings(keys, entries, findings);
    if (std::none_of(entries.begin(), entries.end(),
                     [](const WatchEntry& entry) { return entry.limit != 0; })) {
      findings.push_back("kein Eintrag mit einer Grenze; ein Lauf ueberwacht nichts");
    }
    // The keys a run asks for; any other is never read.
    const auto count = static_cast<unsigned>(entries.size());
    std::vector<std::pair<std::size_t, std::string>> unread;
    for (const auto& [key, where] : keys) {
      bool read = false;
      for (const char* prefix : {"PGM", "AKT"}) {
        const std::size_t length = std::char_traits<char>::length(prefix);
        if (key.size() < length + 3 || key.compare(0, length, prefix) != 0) continue;
        const std::string digits = key.substr(length);
        if (!AllDigits(digits) || digits.size() > 4) continue;
        const unsigned n = static_cast<unsigned>(std::stoul(digits));
        read = read || (n >= 1 && n <= count && EntryKey(prefix, n) == key);
      }
      if (!read) unread.emplace_back(where.line, key);
    }
    std::sort(unread.begin(), unread.end());
    for (const auto& [line, key] : unread) {
      findings.push_back(Format("%s in Zeile %u wird nie gelesen; die Liste endet bei Eintrag %u",
                                Shown(key).c_str(), LineNumber(line), count));
    }
  }
  // A UTF-16 list is converted to the ANSI code page by Windows itself.
  if (IsUtf16Profile(bytes)) return findings;
  for (const std::size_t line : Utf8Lines(text)) {
    findings.push_back(
        Format("Zeile %u enthaelt UTF-8; unter Windows wird die Liste in der ANSI-Codepage gelesen",
               LineNumber(line)));
  }
  return findings;
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
    finding(IsNotFound(error) ? Format("keine Liste %s in %s", kWatchListName,
                                       DirectoryOf(*path, state.platform.PathSeparator()).c_str())
                              : Format("Liste %s nicht lesbar (Fehler %u)", path->c_str(), error));
    Print(out, "Anzahl Befunde %d\n", findings);
    return kExitCheckNoList;
  }
  std::vector<WatchEntry> entries;
  std::vector<std::string> surveyed;
  for (unsigned n = 1;; ++n) {
    entries.push_back(ReadEntry(state.platform, *path, n));
    const WatchEntry& entry = entries.back();
    if (entry.limit != 0) {
      const bool pattern = entry.name.find_first_of("*?") != std::string::npos;
      Print(out, "Eintrag %03u: %s %s, Grenze %u Sekunden\n", n, pattern ? "Muster" : "Name",
            entry.name.c_str(), static_cast<std::uint32_t>(entry.limit));
      SurveyEntry(state, entry, n, surveyed);
    }
    if (EndsList(entry, n)) break;
  }
  KillFindings(state, surveyed);
  for (const std::string& text : ListTextFindings(*text, entries)) finding(text);
  for (const std::string& text : surveyed) finding(text);
  if (privileged) {
    std::uint32_t trustError = kErrorSuccess;
    for (const std::string& why : TrustFindingsOf(state.platform, *path, &trustError)) {
      finding("Liste abgelehnt: " + why);
    }
    if (const std::optional<std::string> folder = ProgramFolderFinding(state.platform)) {
      finding(*folder);
    }
    if (trustError != kErrorSuccess) {
      finding(Format("Rechte von %s nicht lesbar (Fehler %u)", path->c_str(), trustError));
    }
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
  const Handle file = platform.CreateFileA(path->c_str(), kGenericRead);
  if (file == Handle::kNull) {
    const std::uint32_t error = platform.GetLastError();
    if (IsNotFound(error)) {
      Print(state.errors, "zeitwache: no watch list %s in %s; nothing is watched\n", kWatchListName,
            DirectoryOf(*path, platform.PathSeparator()).c_str());
    } else {
      Print(state.errors,
            "zeitwache: watch list %s cannot be read (error %u); nothing is watched\n",
            path->c_str(), error);
    }
    return true;
  }
  platform.CloseHandle(file);
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
