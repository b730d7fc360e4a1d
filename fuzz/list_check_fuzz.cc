// The list check's reading of any file: the profile scan and the findings.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "base/ascii.h"
#include "fuzz/fuzz_check.h"
#include "platform/list_format/profile_reader.h"
#include "run/limit.h"
#include "run/list_check.h"

using zw::fuzz::Require;

namespace {

// The entries a run reads from `text`, as the platform's reader gives them;
// at most `most`, so that one input stays quick.
std::vector<zw::WatchEntry> ReadEntries(std::string_view text, unsigned most) {
  std::vector<zw::WatchEntry> entries;
  for (unsigned n = 1; n <= most; ++n) {
    char name[256];
    char limit[zw::kLimitChars + 1];
    zw::WatchEntry entry;
    zw::ReadProfileString(text, "PGM", zw::EntryKey("PGM", n), "none", name, sizeof name);
    entry.limitChars =
        zw::ReadProfileString(text, "PGM", zw::EntryKey("AKT", n), "000000", limit, sizeof limit);
    entry.name = name;
    entry.limit = zw::ParseLimit(limit).seconds;
    entries.push_back(entry);
    if (zw::EndsList(entry, n)) break;
  }
  return entries;
}

bool HasBlankEnds(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1a'; };
  return !s.empty() && (blank(s.front()) || blank(s.back()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto most = input.ConsumeIntegralInRange<unsigned>(1, 40);
  const std::string bytes = input.ConsumeRemainingBytesAsString();
  // The scan reads decoded text; decoding twice changes nothing more.
  const std::string text = zw::DecodeProfileText(bytes);
  Require(zw::DecodeProfileText(text) == text, "decoded text decoded again");

  // Every item lies inside the text, in line order, and the first line of a
  // key in the first section of its name is the one the reader answers with.
  const std::vector<zw::ProfileItem> items = zw::ScanProfile(text);
  std::size_t lastLine = 0;
  // The lines before the first header form a section with the empty name.
  std::vector<std::string> seenSections = {""};
  std::vector<std::string> seenKeys;
  std::string section;
  bool firstOfName = true;
  for (const zw::ProfileItem& item : items) {
    Require(item.line >= lastLine && item.line <= text.size() + 1, "line numbers out of order");
    lastLine = item.line;
    Require(item.name.empty() || (item.name.data() >= text.data() &&
                                  item.name.data() + item.name.size() <= text.data() + text.size()),
            "name outside the text");
    if (item.isSection) {
      section = item.name;
      firstOfName = true;
      for (const std::string& seen : seenSections) {
        firstOfName = firstOfName && !zw::EqualIgnoringAsciiCase(seen, section);
      }
      seenSections.push_back(section);
      seenKeys.clear();
      continue;
    }
    bool firstOfKey = true;
    for (const std::string& seen : seenKeys) {
      firstOfKey = firstOfKey && !zw::EqualIgnoringAsciiCase(seen, item.name);
    }
    seenKeys.emplace_back(item.name);
    // Names that keep blanks after a NUL cut do not read back by name.
    if (!firstOfName || !firstOfKey || HasBlankEnds(item.name) || HasBlankEnds(section) ||
        item.name.empty()) {
      continue;
    }
    Require(zw::FindProfileValue(text, section, item.name) == item.value,
            "scan and reader disagree");
  }

  for (const std::string& finding : zw::ListTextFindings(bytes, ReadEntries(bytes, most))) {
    Require(!finding.empty(), "empty finding");
    Require(finding.find_first_of("\r\n") == std::string::npos, "finding spans lines");
  }
  return 0;
}
