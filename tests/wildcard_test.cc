#include "enforce/wildcard.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zw {
namespace {

using namespace std::string_view_literals;

// The plain recursive definition, over zero-terminated strings. A set that
// reaches the terminator gives 0 where it is met, rather than up front: a
// match has to get past every set, so both agree.
unsigned char Upper(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// Pattern after the set that `pattern` points into, or nullptr for no match.
const char* ReferenceSet(const char* pattern, unsigned char c) {
  unsigned char previous = 0;
  for (;;) {
    const auto m = static_cast<unsigned char>(*pattern);
    if (m == '\0' || m == ']') return nullptr;
    if (m == '-') {
      const auto upper = static_cast<unsigned char>(pattern[1]);
      if (upper == '\0' || upper == ']') return nullptr;
      if (previous <= c && c <= upper) break;
      ++pattern;
      continue;
    }
    if (m == c) break;
    previous = m;
    ++pattern;
  }
  while (*pattern != ']') {
    if (*pattern == '\0') return nullptr;
    ++pattern;
  }
  return pattern + 1;
}

int Reference(const char* text, const char* pattern) {
  for (;;) {
    const char p = *pattern++;
    if (p == '\0') return *text == '\0' ? 1 : 0;
    if (p == '*') {
      for (; *text != '\0'; ++text) {
        if (Reference(text, pattern) == 1) return 1;
      }
    } else if (p == '?') {
      if (*text++ == '\0') return 0;
    } else if (p == '[') {
      if (*text == '\0') return 0;
      pattern = ReferenceSet(pattern, Upper(*text++));
      if (pattern == nullptr) return 0;
    } else {
      if (Upper(*text++) != static_cast<unsigned char>(p)) return 0;
    }
  }
}

struct Case {
  std::string_view text;
  std::string_view pattern;
  int expected;
};

// Checks the reference as well, so that it is known to follow the rules
// before it is trusted to judge generated cases.
void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const std::string text(c.text);
    const std::string pattern(c.pattern);
    EXPECT_EQ(WildcardMatch(c.text, c.pattern), c.expected)
        << "text \"" << text << "\" pattern \"" << pattern << "\"";
    EXPECT_EQ(Reference(text.c_str(), pattern.c_str()), c.expected)
        << "reference, text \"" << text << "\" pattern \"" << pattern << "\"";
  }
}

TEST(WildcardMatchTest, Basics) {
  ExpectCases({
      {"C:\\TOOLS\\kill.exe", "*KILL*", 1},
      {"NOTEPAD.EXE", "*KILL*", 0},
      {"abc", "ABC", 1},
      {"abc", "abc", 0},
      {"abc", "A?C", 1},
      {"ac", "A?C", 0},
      {"", "*", 1},
      {"", "?", 0},
      {"", "", 1},
      {"x", "", 0},
      {"AB", "A*B", 1},
      {"AXXB", "A*B", 1},
      {"A", "A*", 1},
      {"", "***", 1},
      {"AB", "A", 0},
      {"A", "AB", 0},
      {"ABAB", "*AB", 1},
      {"ABA", "*AB", 0},
      {"aXbXc", "A*B*C", 1},
      {"aXbX", "A*B*C", 0},
      {"name.EXE", "*.exe", 0},
  });
}

TEST(WildcardMatchTest, Sets) {
  ExpectCases({
      {"b", "[A-C]", 1}, {"D", "[A-C]", 0},     {"b", "[a-c]", 0},       {"-", "[-A]", 1},
      {"Z", "[-A]", 0},  {"]", "[]]", 0},       {"!", "[!A]", 1},        {"^", "[^A]", 1},
      {"B", "[!A]", 0},  {"A", "[C-A]", 1},  // A reversed range holds only its upper end.
      {"C", "[C-A]", 1}, {"B", "[C-A]", 0},     {"Q", "[A--Z]", 1},      {"-", "[A--Z]", 0},
      {"A", "[A-]", 1},  // "-]" has no upper end: nothing after A matches.
      {"B", "[A-]", 0},  {"-", "[A-]", 0},      {"A", "[]", 0},          {"", "[A]", 0},
      {"[", "[[]", 1},   {"XbY", "X[ABC]Y", 1}, {"aB", "[A-Z][A-Z]", 1}, {"AB", "[A][B]", 1},
      {"A]", "[A]]", 1},
  });
}

TEST(WildcardMatchTest, SetMembershipOverAllBytes) {
  for (int b = 1; b < 256; ++b) {
    const std::string text(1, static_cast<char>(b));
    const bool letter = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    EXPECT_EQ(WildcardMatch(text, "[A-Z]"), letter ? 1 : 0) << b;
    EXPECT_EQ(WildcardMatch(text, "[a-z]"), 0) << b;
    const bool upToA = b <= 'A' || b == 'a';
    EXPECT_EQ(WildcardMatch(text, "[-A]"), upToA ? 1 : 0) << b;
    EXPECT_EQ(WildcardMatch(text, "?"), 1) << b;
  }
}

TEST(WildcardMatchTest, HighBytesAreNotCaseFolded) {
  ExpectCases({
      {"\xE4", "\xE4", 1},
      {"\xE4", "\xC4", 0},
      {"\xC4", "\xE4", 0},
      {"\xE4", "[\x80-\xFF]", 1},
      {"\x7F", "[\x80-\xFF]", 0},
      {"a\xE4", "A?", 1},
  });
}

TEST(WildcardMatchTest, NulEndsEitherString) {
  ExpectCases({
      {"AB\0C"sv, "AB", 1},
      {"AB\0C"sv, "AB?", 0},
      {"AB", "AB\0C"sv, 1},
      {"\0A"sv, "", 1},
      {"A", "[A\0]"sv, 0},  // The set is cut open by the NUL.
      {"A", "A\0[B"sv, 1},
  });
}

TEST(WildcardMatchTest, UnclosedSetMatchesNothing) {
  ExpectCases({
      {"A", "[", 0},
      {"", "[", 0},
      {"A", "[A", 0},
      {"A", "[AB", 0},  // Matches early, then finds no "]".
      {"B", "[AB", 0},
      {"A", "[A-", 0},
      {"A", "[-", 0},
      {"B", "[A-C", 0},
      {"", "*[", 0},
      {"XA", "*[A", 0},
      {"X", "A[B", 0},
      {"A", "[A]B[", 0},
      {"A]", "[A]][", 0},
  });
}

TEST(WildcardMatchTest, ManyStarsOnALongName) {
  const std::string text(259, 'A');
  std::string failing;
  std::string matching;
  for (int i = 0; i < 30; ++i) {
    failing += "*A";
    matching += "*A";
  }
  failing += "*B";
  matching += "*";
  EXPECT_EQ(WildcardMatch(text, failing), 0);
  EXPECT_EQ(WildcardMatch(text, matching), 1);
  EXPECT_EQ(WildcardMatch(text + "B", failing), 1);
  EXPECT_EQ(WildcardMatch(std::string(29, 'A'), matching), 0);
}

// Every string up to `maxLength` long over `alphabet`.
std::vector<std::string> AllStrings(std::string_view alphabet, std::size_t maxLength) {
  std::vector<std::string> out{""};
  for (std::size_t begin = 0; begin < out.size(); ++begin) {
    if (out[begin].size() == maxLength) continue;
    for (const char c : alphabet) out.push_back(out[begin] + c);
  }
  return out;
}

constexpr std::string_view kPatternAlphabet = "*?[]-Aa!C";
constexpr std::string_view kTextAlphabet = "Aab-!]";

struct Tally {
  int pairs = 0;
  int matches = 0;
  int mismatches = 0;
};

void Compare(const std::string& text, const std::string& pattern, Tally* tally) {
  const int expected = Reference(text.c_str(), pattern.c_str());
  const int actual = WildcardMatch(text, pattern);
  ++tally->pairs;
  tally->matches += expected;
  if (actual != expected && ++tally->mismatches <= 20) {
    ADD_FAILURE() << "text \"" << text << "\" pattern \"" << pattern << "\": got " << actual
                  << ", reference " << expected;
  }
}

TEST(WildcardMatchTest, AgreesWithReferenceExhaustively) {
  const std::vector<std::string> patterns = AllStrings(kPatternAlphabet, 5);
  const std::vector<std::string> texts = AllStrings(kTextAlphabet, 3);
  Tally tally;
  for (const std::string& pattern : patterns) {
    for (const std::string& text : texts) Compare(text, pattern, &tally);
  }
  EXPECT_EQ(tally.mismatches, 0);
  // Guards against a generator that only ever produces non-matches.
  EXPECT_GT(tally.matches, tally.pairs / 1000);
}

std::string RandomString(std::mt19937* rng, std::string_view alphabet, std::size_t maxLength) {
  std::uniform_int_distribution<std::size_t> length(0, maxLength);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s(length(*rng), ' ');
  for (char& c : s) c = alphabet[pick(*rng)];
  return s;
}

TEST(WildcardMatchTest, AgreesWithReferenceOnRandomLongerStrings) {
  std::mt19937 rng(20240611);
  // Stars are kept rarer than the rest so the reference stays quick, and the
  // texts use few letters so that matches are common.
  constexpr std::string_view kPatterns = "**?[]]-AAaB!C";
  constexpr std::string_view kTexts = "AAAbB-!]C";
  Tally tally;
  for (int i = 0; i < 200000; ++i) {
    Compare(RandomString(&rng, kTexts, 12), RandomString(&rng, kPatterns, 12), &tally);
  }
  EXPECT_EQ(tally.mismatches, 0);
  EXPECT_GT(tally.matches, 1000);
}

}  // namespace
}  // namespace zw
