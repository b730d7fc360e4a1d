#include "platform/list_format/profile_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zw {
namespace {

using namespace std::string_view_literals;

// One call of the reader: the file content (nullopt: no file), the query and
// the result the Windows reader gives for it.
struct Row {
  const char* what;
  std::optional<std::string_view> text;
  const char* section;
  const char* key;
  const char* defaultValue;
  std::uint32_t size;
  std::string_view expected;
  std::uint32_t expectedCount;
};

constexpr std::string_view kWatchList = "[PGM]\r\nPGM001=notepad\r\nAKT001=1\r\n"sv;

// Runs every row with the text in a heap block of its exact size, so a read
// past the end is caught by the address sanitizer, and with guard bytes
// behind the output buffer, so a write past `size` is caught everywhere.
// The text parsed once into a ProfileIndex must give the same in each row.
void ExpectRows(std::span<const Row> rows) {
  constexpr std::size_t kGuard = 8;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<char> storage;
    std::optional<std::string_view> text;
    if (row.text) {
      storage.assign(row.text->begin(), row.text->end());
      text = std::string_view(storage.data(), storage.size());
    }
    std::vector<char> buffer(row.size + kGuard, '#');
    const std::uint32_t count =
        ReadProfileString(text, row.section, row.key, row.defaultValue, buffer.data(), row.size);
    EXPECT_EQ(count, row.expectedCount);
    if (row.size > 0) {
      ASSERT_LT(count, row.size);
      EXPECT_EQ(std::string_view(buffer.data(), count), row.expected);
      EXPECT_EQ(buffer[count], '\0');
    }
    EXPECT_EQ(std::string_view(buffer.data() + row.size, kGuard), "########");
    std::optional<ProfileIndex> index;
    if (text) index.emplace(*text);
    std::vector<char> indexed(row.size + kGuard, '#');
    EXPECT_EQ(ReadProfileString(index ? &*index : nullptr, row.section, row.key, row.defaultValue,
                                indexed.data(), row.size),
              count);
    EXPECT_EQ(indexed, buffer);
  }
}

TEST(ProfileReader, LineLayout) {
  const Row rows[] = {
      {"CRLF", kWatchList, "PGM", "PGM001", "d", 64, "notepad", 7},
      {"LF", "[PGM]\nK=v\n"sv, "PGM", "K", "d", 64, "v", 1},
      {"CR alone", "[PGM]\rA=a\rB=b\r"sv, "PGM", "B", "d", 64, "b", 1},
      {"CR between LF lines", "[PGM]\nA=a\rB=b\nC=c\n"sv, "PGM", "B", "d", 64, "b", 1},
      {"no final line end", "[PGM]\nK=v"sv, "PGM", "K", "d", 64, "v", 1},
      {"blank lines", "[PGM]\n\n  \n\t\nA=a\n"sv, "PGM", "A", "d", 64, "a", 1},
      {"blanks around all parts", "  [PGM]  \n  PGM001  =  val ue \t\n"sv, "PGM", "PGM001", "d", 64,
       "val ue", 6},
      {"VT, FF and ^Z are blanks", "[PGM]\nK\v=\f\x1av\v\x1a\n"sv, "PGM", "K", "d", 64, "v", 1},
      {"^Z as end-of-file mark", "[PGM]\nK=1\x1a"sv, "PGM", "K", "d", 64, "1", 1},
      {"other control bytes kept", "[PGM]\nK=\x1cv\x1f\n"sv, "PGM", "K", "d", 64, "\x1cv\x1f", 3},
      {"no-break space kept", "[PGM]\nK=\xA0v\xA0\n"sv, "PGM", "K", "d", 64, "\xA0v\xA0", 3},
      {"BOM skipped", "\xEF\xBB\xBF[PGM]\nA=a\n"sv, "PGM", "A", "d", 64, "a", 1},
      {"BOM then blanks", "\xEF\xBB\xBF  [PGM]\nA=a\n"sv, "PGM", "A", "d", 64, "a", 1},
      {"BOM only at the start", " \xEF\xBB\xBF[PGM]\nA=a\n"sv, "PGM", "A", "d", 64, "d", 1},
      {"partial BOM is text", "\xEF\xBB[PGM]\nA=a\n"sv, "PGM", "A", "d", 64, "d", 1},
      {"high bytes passed through", "[PGM]\nA=a\xC3\xA4z\x81\xFF\n"sv, "PGM", "A", "d", 64,
       "a\xC3\xA4z\x81\xFF", 6},
      // Bytes stay as they are after a BOM too: no code-page conversion.
      {"UTF-8 after BOM passed through", "\xEF\xBB\xBF[PGM]\nA=\xC3\xA4\n"sv, "PGM", "A", "d", 64,
       "\xC3\xA4", 2},
  };
  ExpectRows(rows);
}

// Files saved as "Unicode" by Notepad: UTF-16 after a byte-order mark, read
// into UTF-8.
TEST(ProfileReader, Utf16) {
  const Row rows[] = {
      // clang-format off
      {"little endian", "\xFF\xFE[\0P\0G\0M\0]\0\r\0\n\0A\0=\0a\0z\0\r\0\n\0"sv, "PGM", "A", "d", 64, "az", 2},
      {"big endian", "\xFE\xFF\0[\0P\0G\0M\0]\0\n\0A\0=\0a\0z"sv, "PGM", "A", "d", 64, "az", 2},
      {"to UTF-8", "\xFF\xFE[\0P\0G\0M\0]\0\n\0A\0=\0\xE4\0\xAC\x20"sv, "PGM", "A", "d", 64, "\xC3\xA4\xE2\x82\xAC", 5},
      {"surrogate pair", "\xFF\xFE[\0P\0G\0M\0]\0\n\0A\0=\0\x3D\xD8\x00\xDE"sv, "PGM", "A", "d", 64, "\xF0\x9F\x98\x80", 4},
      {"half a pair", "\xFF\xFE[\0P\0G\0M\0]\0\n\0A\0=\0\x3D\xD8z\0\x00\xDE"sv, "PGM", "A", "d", 64, "?z?", 3},
      {"odd last byte dropped", "\xFF\xFE[\0P\0G\0M\0]\0\n\0A\0=\0a\0z"sv, "PGM", "A", "d", 64, "a", 1},
      {"NUL unit ends the value", "\xFF\xFE[\0P\0G\0M\0]\0\n\0A\0=\0a\0\0\0z\0"sv, "PGM", "A", "d", 64, "a", 1},
      {"without a mark: bytes", "[\0P\0G\0M\0]\0\n\0A\0=\0a\0"sv, "PGM", "A", "d", 64, "d", 1},
      {"mark after a blank: bytes", " \xFF\xFE[\0P\0G\0M\0]\0\n\0A\0=\0a\0"sv, "PGM", "A", "d", 64, "d", 1},
      // clang-format on
  };
  ExpectRows(rows);
}

TEST(ProfileReader, Sections) {
  const Row rows[] = {
      {"case-insensitive", kWatchList, "pgm", "pgm001", "d", 64, "notepad", 7},
      {"query trimmed", kWatchList, " PGM\t", "\tPGM001 ", "d", 64, "notepad", 7},
      {"missing", kWatchList, "PGMX", "PGM001", "d", 64, "d", 1},
      {"prefix is no match", kWatchList, "PG", "PGM001", "d", 64, "d", 1},
      {"ASCII folding only", "[\xC4\x42\x43]\nA=1\n"sv, "\xE4\x62\x63", "A", "d", 64, "d", 1},
      {"only the first of a name", "[PGM]\nA=1\n[X]\n[pgm]\nB=2\n"sv, "PGM", "B", "d", 64, "d", 1},
      {"first of a name wins", "[pgm]\nk=v\n[PGM]\nK=w\n"sv, "PGM", "K", "d", 64, "v", 1},
      {"next header ends it", "[PGM]\r\n[X]\r\nK=1\r\n"sv, "PGM", "K", "d", 64, "d", 1},
      {"blanks inside brackets", "[ \tPGM\v ]\nA=1\n"sv, "PGM", "A", "d", 64, "1", 1},
      {"text after bracket", "[PGM] trailing\nA=1\n"sv, "PGM", "A", "d", 64, "1", 1},
      {"name runs to last bracket", "[PGM] ;[x]\nA=1\n"sv, "PGM] ;[x", "A", "d", 64, "1", 1},
      {"bracket inside name", "[PGM] ;[x]\nA=1\n"sv, "PGM", "A", "d", 64, "d", 1},
      {"unclosed header is no header", "[PGM\nA=1\n"sv, "PGM", "A", "d", 64, "d", 1},
      {"unclosed header is a key line", "[PGM]\n[PGM\nA=1\n"sv, "PGM", "A", "d", 64, "1", 1},
      {"unclosed header with value", "[PGM]\n[X=1\n"sv, "PGM", "[X", "d", 64, "1", 1},
      {"header must start the line", "x[PGM]\nK=1\n"sv, "PGM", "K", "d", 64, "d", 1},
      {"lines before any header", "A=1\n[PGM]\n"sv, "", "A", "d", 64, "1", 1},
      {"empty header comes second", "[]\nA=1\n"sv, "", "A", "d", 64, "d", 1},
      {"named section is not unnamed", "[PGM]\nA=1\n"sv, " ", "A", "d", 64, "d", 1},
  };
  ExpectRows(rows);
}

TEST(ProfileReader, Keys) {
  const Row rows[] = {
      {"missing", kWatchList, "PGM", "PGM002", "d", 64, "d", 1},
      {"prefix is no match", kWatchList, "PGM", "PGM00", "d", 64, "d", 1},
      {"longer is no match", "[PGM]\nPGM0011=x\n"sv, "PGM", "PGM001", "d", 64, "d", 1},
      {"first of repeated", "[PGM]\nk=1\nK=2\n"sv, "PGM", "K", "d", 64, "1", 1},
      {"no = has no value", "[PGM]\nK\n"sv, "PGM", "K", "d", 64, "d", 1},
      {"no = still comes first", "[PGM]\nK\nK=5\n"sv, "PGM", "K", "d", 64, "d", 1},
      {"empty value", "[PGM]\nK =\n"sv, "PGM", "K", "d", 64, "", 0},
      {"blank value", "[PGM]\nK=   \n"sv, "PGM", "K", "d", 64, "", 0},
      {"empty value at end", "[PGM]\nK="sv, "PGM", "K", "d", 64, "", 0},
      {"later = belong to value", "[PGM]\nK = a = b\n"sv, "PGM", "K", "d", 64, "a = b", 5},
      {"value starting with =", "[PGM]\nK==b\n"sv, "PGM", "K", "d", 64, "=b", 2},
      {"inner blanks count", "[PGM]\nPGM 001 = x y\n"sv, "PGM", "PGM 001", "d", 64, "x y", 3},
      {"inner blanks differ", "[PGM]\nPGM 001 = x y\n"sv, "PGM", "PGM  001", "d", 64, "d", 1},
      {"empty key name", "[PGM]\n  = value\n"sv, "PGM", "", "d", 64, "value", 5},
      {"comment skipped", "[PGM]\n;K=1\nK=2\n"sv, "PGM", "K", "d", 64, "2", 1},
      {"comment is no key", "[PGM]\n  ;K=1\n"sv, "PGM", ";K", "d", 64, "d", 1},
  };
  ExpectRows(rows);
}

TEST(ProfileReader, QuotesAndNul) {
  const Row rows[] = {
      {"double quotes", "[PGM]\nK=\"abc\"\n"sv, "PGM", "K", "d", 64, "abc", 3},
      {"single quotes", "[PGM]\nK='abc'\n"sv, "PGM", "K", "d", 64, "abc", 3},
      {"mixed quotes kept", "[PGM]\nK=\"abc'\n"sv, "PGM", "K", "d", 64, "\"abc'", 5},
      {"lone quote kept", "[PGM]\nK=\"\n"sv, "PGM", "K", "d", 64, "\"", 1},
      {"empty quotes", "[PGM]\nK=''\n"sv, "PGM", "K", "d", 64, "", 0},
      {"opening quote only", "[PGM]\nK=\"abc\n"sv, "PGM", "K", "d", 64, "\"abc", 4},
      {"closing quote only", "[PGM]\nK=abc\"\n"sv, "PGM", "K", "d", 64, "abc\"", 4},
      {"blanks inside quotes", "[PGM]\nK= \" a b \" \n"sv, "PGM", "K", "d", 64, " a b ", 5},
      {"one pair only", "[PGM]\nK=\"a\"b\"\n"sv, "PGM", "K", "d", 64, "a\"b", 3},
      {"other quote inside", "[PGM]\nK='\"'\n"sv, "PGM", "K", "d", 64, "\"", 1},
      {"no comment after value", "[PGM]\nK=\"abc\"  ;c\n"sv, "PGM", "K", "d", 64, "\"abc\"  ;c", 9},
      {"quoted value just fits", "[PGM]\nK=\"abc\"\n"sv, "PGM", "K", "d", 4, "abc", 3},
      {"quoted value cut", "[PGM]\nK=\"abc\"\n"sv, "PGM", "K", "d", 3, "ab", 2},
      {"NUL ends value", "[PGM]\nA=ab\0cd\nB=x\n"sv, "PGM", "A", "d", 64, "ab", 2},
      {"NUL does not end line", "[PGM]\nA=ab\0cd\nB=x\n"sv, "PGM", "B", "d", 64, "x", 1},
      {"NUL before closing quote", "[PGM]\nA=\"ab\0c\"\n"sv, "PGM", "A", "d", 64, "\"ab", 3},
      {"blanks before NUL kept", "[PGM]\nK=ab \0 \n"sv, "PGM", "K", "d", 64, "ab ", 3},
      {"NUL ends key", "[PGM]\nA\0B=1\n"sv, "PGM", "A", "d", 64, "1", 1},
      {"NUL ends section", "[PG\0M]\nA=1\n"sv, "PG", "A", "d", 64, "1", 1},
      {"blank before NUL in section", "[ PGM \0]\nA=1\n"sv, "PGM", "A", "d", 64, "d", 1},
  };
  ExpectRows(rows);
}

TEST(ProfileReader, DefaultAndBufferSize) {
  const Row rows[] = {
      {"no file", std::nullopt, "PGM", "PGM001", "dflt", 64, "dflt", 4},
      {"empty file", ""sv, "PGM", "PGM001", "dflt", 64, "dflt", 4},
      {"found beats default", kWatchList, "PGM", "AKT001", "dflt", 64, "1", 1},
      {"trailing spaces go", kWatchList, "PGM", "X", "one two  ", 64, "one two", 7},
      {"leading spaces stay", kWatchList, "PGM", "X", "  def", 64, "  def", 5},
      {"all spaces keep one", kWatchList, "PGM", "X", "   ", 64, " ", 1},
      {"trailing tab stays", kWatchList, "PGM", "X", "def\t ", 64, "def\t", 4},
      {"quoted default", std::nullopt, "PGM", "X", "\"def\" ", 64, "def", 3},
      {"null default", kWatchList, "PGM", "X", nullptr, 64, "", 0},
      {"default cut", kWatchList, "PGM", "X", "defaultvalue", 5, "defa", 4},
      {"size 1", kWatchList, "PGM", "PGM001", "d", 1, "", 0},
      {"one short", kWatchList, "PGM", "PGM001", "d", 7, "notepa", 6},
      {"exact fit", kWatchList, "PGM", "PGM001", "d", 8, "notepad", 7},
      {"size 0 writes nothing", kWatchList, "PGM", "PGM001", "d", 0, "", 0},
      {"long value cut", "[PGM]\nK=0123456789012345678901234567890123\n"sv, "PGM", "K", "d", 16,
       "012345678901234", 15},
  };
  ExpectRows(rows);
}

TEST(ProfileReader, FindTellsEmptyFromMissing) {
  EXPECT_EQ(FindProfileValue("[PGM]\nK=\n", "PGM", "K"), "");
  EXPECT_EQ(FindProfileValue("[PGM]\nK\n", "PGM", "K"), std::nullopt);
  EXPECT_EQ(FindProfileValue("[PGM]\nK=\"q\"\n", "PGM", "K"), "q");
  EXPECT_EQ(FindProfileValue("[X]\nK=v\n", "PGM", "K"), std::nullopt);
}

TEST(ProfileReader, StopsAtEndOfView) {
  // The bytes behind the view would change every answer if they were read.
  const std::string storage = "[PGM]\nK=abc]\nL=1";
  EXPECT_EQ(FindProfileValue(std::string_view(storage).substr(0, 11), "PGM", "K"), "abc");
  EXPECT_EQ(FindProfileValue(std::string_view(storage).substr(0, 14), "PGM", "L"), std::nullopt);
  EXPECT_EQ(FindProfileValue(std::string_view(storage).substr(0, 4), "PGM", "K"), std::nullopt);
}

}  // namespace
}  // namespace zw
