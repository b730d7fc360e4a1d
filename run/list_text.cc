#include "run/list_text.h"

#include <algorithm>
#include <map>

#include "base/ascii.h"
#include "platform/list_format/profile_reader.h"
#include "run/entry_findings.h"

namespace zw {
namespace {

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
            Formatted("Abschnitt [PGM] in Zeile %u doppelt; ein Lauf liest nur den ersten",
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
      findings.push_back(Formatted("Schluessel %s in Zeile %u doppelt; es gilt Zeile %u",
                                   Shown(item.name).c_str(), LineNumber(item.line),
                                   LineNumber(it->second.line)));
    }
  }
  return keys;
}

// "kein Abschnitt [PGM]", with the sections the list has instead.
std::string NoSectionFinding(const std::vector<ProfileItem>& items) {
  std::string found;
  for (const ProfileItem& item : items) {
    if (!item.isSection) continue;
    found += found.empty() ? " (gefunden: [" : ", [";
    found += Shown(item.name) + "]";
  }
  if (!found.empty()) found += ")";
  return "kein Abschnitt [PGM]" + found;
}

// The keys a run asks for (PGMnnn and AKTnnn of the `count` entries it
// reads); any other is never read, one finding each in line order.
void UnreadKeyFindings(const std::map<std::string, KeyLine>& keys, unsigned count,
                       std::vector<std::string>& findings) {
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
    findings.push_back(Formatted("%s in Zeile %u wird nie gelesen; die Liste endet bei Eintrag %u",
                                 Shown(key).c_str(), LineNumber(line), count));
  }
}

}  // namespace

std::vector<std::string> ListTextFindings(std::string_view bytes,
                                          std::span<const WatchEntry> entries) {
  std::vector<std::string> findings;
  const std::string text = DecodeProfileText(bytes);
  const std::vector<ProfileItem> items = ScanProfile(text);
  const bool hasSection = std::any_of(items.begin(), items.end(), [](const ProfileItem& item) {
    return item.isSection && EqualIgnoringAsciiCase(item.name, kWatchListSection);
  });
  if (!hasSection) {
    findings.push_back(NoSectionFinding(items));
  } else {
    const std::map<std::string, KeyLine> keys = SectionKeys(items, findings);
    EntryFindings(keys, entries, findings);
    if (std::none_of(entries.begin(), entries.end(),
                     [](const WatchEntry& entry) { return entry.limit != 0; })) {
      findings.push_back("kein Eintrag mit einer Grenze; ein Lauf ueberwacht nichts");
    }
    UnreadKeyFindings(keys, static_cast<unsigned>(entries.size()), findings);
  }
  // A UTF-16 list is converted to the ANSI code page by Windows itself.
  if (IsUtf16Profile(bytes)) return findings;
  for (const std::size_t line : Utf8Lines(text)) {
    findings.push_back(Formatted(
        "Zeile %u enthaelt UTF-8; unter Windows wird die Liste in der ANSI-Codepage gelesen",
        LineNumber(line)));
  }
  return findings;
}

}  // namespace zw
