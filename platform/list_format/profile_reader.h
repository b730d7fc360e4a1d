// Reads values from the text of a Windows profile (INI) file, for backends
// that have no GetPrivateProfileStringA of their own. The rules are those of
// the Windows reader, so a watch list behaves the same on every platform:
//
//  - a UTF-8 byte-order mark at the very start is skipped; every other byte
//    is passed through unchanged (no code-page conversion);
//  - a file that starts with a UTF-16 byte-order mark (little or big endian,
//    as Notepad saves "Unicode") is read as UTF-16 and its text handed on in
//    UTF-8, the multibyte form of the backends that use this reader (see
//    DecodeProfileText);
//  - CR and LF each end a line (so CRLF does too);
//  - blanks around lines, section names, keys and values are dropped; a
//    blank is a space, tab, LF, VT, FF, CR or the DOS end-of-file mark ^Z;
//  - "[name]" opens a section; the name runs to the last "]" of the line,
//    and a line starting with "[" but holding no "]" is an ordinary key line;
//  - lines before the first section header form a section with the empty
//    name;
//  - a line starting with ";" is a comment;
//  - names compare case-insensitively in ASCII only;
//  - only the first section of a name is searched, and the first line of a
//    key in it decides: a key line without "=" has no value;
//  - a NUL byte ends a name or value, as it would in a C string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zw {

/// The text of the profile file `bytes` as the rules below read it: UTF-16
/// (after a little- or big-endian byte-order mark) converted to UTF-8, with
/// a unit that is half of a surrogate pair alone as "?" and an odd last byte
/// dropped; any other file as it is, a UTF-8 byte-order mark included.
std::string DecodeProfileText(std::string_view bytes);

/// True when `bytes` starts with a UTF-16 byte-order mark.
bool IsUtf16Profile(std::string_view bytes);

/// The value of `key` in the first section named `section` of the profile
/// `text` (a file's bytes, decoded here as DecodeProfileText does), as GetPrivateProfileStringA
/// reports it given room enough: with one pair of matching quotes around the whole value removed.
/// nullopt when the section or key is missing or the key line has no "=" (a line "key =" has the
/// empty value). `section` and `key` lose their surrounding blanks before the comparison.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

/// A section header or key line of a profile, as the reader sees it.
struct ProfileItem {
  bool isSection = false;
  /// The name as compared: without surrounding blanks, cut at a NUL.
  std::string_view name;
  /// A key's value as FindProfileValue reports it; nullopt without "=" and
  /// for a section.
  std::optional<std::string_view> value;
  /// 1-based; CRLF, a lone CR and a lone LF each end one line.
  std::size_t line = 0;
};

/// Every section header and key line of the profile `text`, in order, by
/// the rules above; names and values point into `text`, which must have
/// been decoded by DecodeProfileText.
std::vector<ProfileItem> ScanProfile(std::string_view text);

/// GetPrivateProfileStringA's result for a file whose content is `text`
/// (nullopt: no such file). Writes the value of `key`, or else
/// `defaultValue` (nullptr: empty) without its trailing spaces and one pair
/// of surrounding quotes, cut to `size` - 1 bytes and zero-terminated, into
/// `buffer`. Returns the number of bytes copied without the terminator.
/// With `size` 0 nothing is written and 0 is returned.
std::uint32_t ReadProfileString(std::optional<std::string_view> text, std::string_view section,
                                std::string_view key, const char* defaultValue, char* buffer,
                                std::uint32_t size);

/// A profile's text parsed once: every lookup gives what FindProfileValue
/// gives for the same text, without reading the text again.
class ProfileIndex {
 public:
  /// `text`: a file's bytes, decoded here as DecodeProfileText does.
  explicit ProfileIndex(std::string_view text);

  /// As FindProfileValue(text, section, key).
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

 private:
  // Value of the first line of each key, none for a line without "=".
  using Keys = std::unordered_map<std::string, std::optional<std::string>>;
  // The first section of each name; names in ASCII lower case.
  std::unordered_map<std::string, Keys> sections_;
};

/// ReadProfileString for a file parsed into `profile` (nullptr: no file).
std::uint32_t ReadProfileString(const ProfileIndex* profile, std::string_view section,
                                std::string_view key, const char* defaultValue, char* buffer,
                                std::uint32_t size);

}  // namespace zw
