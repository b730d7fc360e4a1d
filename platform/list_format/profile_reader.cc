#include "platform/list_format/profile_reader.h"

#include <algorithm>

#include "base/ascii.h"

namespace zw {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

enum class LineKind { kIgnored, kSection, kKey };

struct ProfileLine {
  LineKind kind = LineKind::kIgnored;
  // Section or key name: trimmed, then cut at the first NUL.
  std::string_view name;
  // A key's value (trimmed, not yet cut at a NUL); absent without "=".
  std::optional<std::string_view> value;
};

// ^Z counts as a blank because DOS editors appended it as an end-of-file mark.
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1a'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Blanks go first: a NUL is not a blank, so "ab \0" keeps its inner space.
std::string_view CutAtNul(std::string_view s) { return s.substr(0, s.find('\0')); }

std::string_view CleanName(std::string_view raw) { return CutAtNul(Trim(raw)); }

// One pair of equal quotes enclosing the whole text; a lone quote stays.
std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

// Removes and returns the first line of `rest`, without its terminator.
std::string_view TakeLine(std::string_view& rest) {
  const std::size_t end = rest.find_first_of("\r\n");
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

ProfileLine ParseLine(std::string_view raw) {
  const std::string_view line = Trim(raw);
  ProfileLine parsed;
  if (line.empty() || line.front() == ';') return parsed;
  const std::size_t close = line.rfind(']');
  if (line.front() == '[' && close != std::string_view::npos) {
    parsed.kind = LineKind::kSection;
    parsed.name = CleanName(line.substr(1, close - 1));
    return parsed;
  }
  parsed.kind = LineKind::kKey;
  const std::size_t equals = line.find('=');
  parsed.name = CleanName(line.substr(0, equals));
  if (equals != std::string_view::npos) {
    parsed.value = Trim(line.substr(equals + 1));
  }
  return parsed;
}

// One UTF-16 unit at `at` units into `bytes`.
char32_t UnitAt(std::string_view bytes, std::size_t at, bool bigEndian) {
  const auto first = static_cast<unsigned char>(bytes[2 * at]);
  const auto second = static_cast<unsigned char>(bytes[2 * at + 1]);
  return bigEndian ? char32_t{first} << 8 | second : char32_t{second} << 8 | first;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  const int trailing = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out.push_back(static_cast<char>(kLead[trailing] | (c >> (6 * trailing))));
  for (int k = trailing - 1; k >= 0; --k) {
    out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
}

std::string Utf16ToProfileBytes(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = UnitAt(bytes, i, bigEndian);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      const char32_t low = UnitAt(bytes, i + 1, bigEndian);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    // Half a pair has no character; the Windows reader shows "?" for what
    // the code page cannot hold.
    if (c >= 0xD800 && c <= 0xDFFF) c = U'?';
    AppendUtf8(out, c);
  }
  return out;
}

std::string LowerCase(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

// The value found, or else the cleaned default, cut to `size` - 1 bytes and
// zero-terminated into `buffer` (`size` > 0).
std::uint32_t CopyResult(std::optional<std::string_view> found, const char* defaultValue,
                         char* buffer, std::uint32_t size) {
  std::string_view result;
  if (found) {
    result = *found;
  } else {
    std::string_view fallback = defaultValue ? defaultValue : "";
    // Trailing spaces go, but an all-space default keeps its first one.
    while (fallback.size() > 1 && fallback.back() == ' ') {
      fallback.remove_suffix(1);
    }
    result = Unquote(fallback);
  }
  const std::size_t count = std::min<std::size_t>(result.size(), size - 1);
  std::copy_n(result.data(), count, buffer);
  buffer[count] = '\0';
  return static_cast<std::uint32_t>(count);
}

}  // namespace

bool IsUtf16Profile(std::string_view bytes) {
  return bytes.starts_with(kUtf16LeBom) || bytes.starts_with(kUtf16BeBom);
}

std::string DecodeProfileText(std::string_view bytes) {
  if (!IsUtf16Profile(bytes)) return std::string(bytes);
  return Utf16ToProfileBytes(bytes.substr(2), bytes.starts_with(kUtf16BeBom));
}

std::optional<std::string> FindProfileValue(std::string_view bytes, std::string_view section,
                                            std::string_view key) {
  const std::string decoded = IsUtf16Profile(bytes) ? DecodeProfileText(bytes) : std::string();
  std::string_view text = IsUtf16Profile(bytes) ? std::string_view(decoded) : bytes;
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  const std::string_view wantedSection = CleanName(section);
  const std::string_view wantedKey = CleanName(key);
  // The lines before the first header belong to the unnamed section.
  bool inWantedSection = wantedSection.empty();
  while (!text.empty()) {
    const ProfileLine line = ParseLine(TakeLine(text));
    if (line.kind == LineKind::kSection) {
      // Leaving the first section of the name ends the search.
      if (inWantedSection) return std::nullopt;
      inWantedSection = EqualIgnoringAsciiCase(line.name, wantedSection);
    } else if (line.kind == LineKind::kKey && inWantedSection &&
               EqualIgnoringAsciiCase(line.name, wantedKey)) {
      if (!line.value) return std::nullopt;
      return std::string(Unquote(CutAtNul(*line.value)));
    }
  }
  return std::nullopt;
}

std::vector<ProfileItem> ScanProfile(std::string_view text) {
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  std::vector<ProfileItem> items;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find_first_of("\r\n");
    const bool endsInCr = end != std::string_view::npos && text[end] == '\r';
    const ProfileLine line = ParseLine(TakeLine(text));
    // The LF of a CRLF ends no line of its own; to the reader it ends an
    // empty one, which holds nothing either way.
    if (endsInCr && text.starts_with('\n')) text.remove_prefix(1);
    if (line.kind == LineKind::kIgnored) continue;
    ProfileItem item;
    item.isSection = line.kind == LineKind::kSection;
    item.name = line.name;
    if (line.value) item.value = Unquote(CutAtNul(*line.value));
    item.line = number;
    items.push_back(item);
  }
  return items;
}

std::uint32_t ReadProfileString(std::optional<std::string_view> text, std::string_view section,
                                std::string_view key, const char* defaultValue, char* buffer,
                                std::uint32_t size) {
  if (size == 0) return 0;
  std::optional<std::string> found;
  if (text) found = FindProfileValue(*text, section, key);
  return CopyResult(found ? std::optional<std::string_view>(*found) : std::nullopt, defaultValue,
                    buffer, size);
}

ProfileIndex::ProfileIndex(std::string_view bytes) {
  const std::string decoded = IsUtf16Profile(bytes) ? DecodeProfileText(bytes) : std::string();
  std::string_view text = IsUtf16Profile(bytes) ? std::string_view(decoded) : bytes;
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  // The lines before the first header belong to the unnamed section, and
  // only those: a later "[]" is a second section of that name.
  Keys* keys = &sections_[""];
  while (!text.empty()) {
    const ProfileLine line = ParseLine(TakeLine(text));
    if (line.kind == LineKind::kSection) {
      const auto [at, first] = sections_.try_emplace(LowerCase(line.name));
      keys = first ? &at->second : nullptr;
    } else if (line.kind == LineKind::kKey && keys != nullptr) {
      std::optional<std::string> value;
      if (line.value) value = std::string(Unquote(CutAtNul(*line.value)));
      keys->try_emplace(LowerCase(line.name), std::move(value));
    }
  }
}

std::optional<std::string_view> ProfileIndex::Find(std::string_view section,
                                                   std::string_view key) const {
  const auto inSection = sections_.find(LowerCase(CleanName(section)));
  if (inSection == sections_.end()) return std::nullopt;
  const auto line = inSection->second.find(LowerCase(CleanName(key)));
  if (line == inSection->second.end() || !line->second) return std::nullopt;
  return *line->second;
}

std::uint32_t ReadProfileString(const ProfileIndex* profile, std::string_view section,
                                std::string_view key, const char* defaultValue, char* buffer,
                                std::uint32_t size) {
  if (size == 0) return 0;
  return CopyResult(profile ? profile->Find(section, key) : std::nullopt, defaultValue, buffer,
                    size);
}

}  // namespace zw
