#include "enforce/wildcard.h"

#include <cstddef>
#include <string_view>

#include "base/ascii.h"

namespace zw {
namespace {

constexpr char kStar = '*';
constexpr char kAnyOne = '?';
constexpr char kSetOpen = '[';
constexpr char kSetClose = ']';
constexpr unsigned char kRange = '-';
constexpr std::size_t kNoStar = std::string_view::npos;

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// Upper-cases as toupper does in the classic locale: only a-z change.
unsigned char UpperAscii(char ch) { return static_cast<unsigned char>(AsciiUpper(ch)); }

// A set runs from its "[" to the first "]" after it, since "]" is never a
// member. False when some set is left open by the end of the pattern.
bool SetsAreClosed(std::string_view pattern) {
  std::size_t pos = pattern.find(kSetOpen);
  while (pos != std::string_view::npos) {
    const std::size_t close = pattern.find(kSetClose, pos + 1);
    if (close == std::string_view::npos) return false;
    pos = pattern.find(kSetOpen, close + 1);
  }
  return true;
}

// Walks the members of a set body (the bytes between "[" and its "]").
// "X-Y" holds every byte from X to Y; a reversed range holds nothing by
// itself, but its Y is then read as a member in its own right, which may in
// turn open another range from the same X. The last member before a "-" is
// the lower end of the range it opens; 0 before the first one.
bool SetContains(std::string_view body, unsigned char c) {
  unsigned char previous = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const auto member = static_cast<unsigned char>(body[i]);
    if (member != kRange) {
      if (member == c) return true;
      previous = member;
      continue;
    }
    // A "-" right before the "]" has no upper end and ends the walk.
    if (i + 1 == body.size()) return false;
    const auto upper = static_cast<unsigned char>(body[i + 1]);
    if (previous <= c && c <= upper) return true;
  }
  return false;
}

struct ElementMatch {
  bool matched;
  std::size_t next;  // Pattern position after the element.
};

// Matches the one-character element at `pos` (anything but a star) against
// one text byte. Requires every set of the pattern to be closed.
ElementMatch MatchElement(std::string_view pattern, std::size_t pos, char text) {
  const unsigned char c = UpperAscii(text);
  const char p = pattern[pos];
  if (p == kAnyOne) return {true, pos + 1};
  if (p != kSetOpen) {
    return {static_cast<unsigned char>(p) == c, pos + 1};
  }
  const std::size_t close = pattern.find(kSetClose, pos + 1);
  const std::string_view body = pattern.substr(pos + 1, close - pos - 1);
  return {SetContains(body, c), close + 1};
}

}  // namespace

// Every element other than a star consumes exactly one text byte, and whether
// it matches depends on that byte alone. The pattern is therefore a chain of
// fixed-length segments joined by stars, and placing each segment at its
// leftmost fit is never worse than any other placement: a later fit leaves a
// shorter tail for the same remaining pattern, and the next star absorbs the
// difference. So only the most recent star needs a restart point; earlier
// ones never have to be revisited. Each restart moves that star's start one
// byte on and costs at most one pass over the pattern, giving
// O(|text| * |pattern|).
int WildcardMatch(std::string_view text, std::string_view pattern) {
  text = UpToNul(text);
  pattern = UpToNul(pattern);
  // Rejecting an open set up front costs no match: any match has to step past
  // every set, and an open set has nothing to step past to.
  if (!SetsAreClosed(pattern)) return 0;
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t starResume = kNoStar;  // Pattern position after the last star.
  std::size_t starText = 0;          // Text position that star last took.
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == kStar) {
      starResume = ++p;
      starText = t;
      continue;
    }
    if (p < pattern.size()) {
      const ElementMatch m = MatchElement(pattern, p, text[t]);
      if (m.matched) {
        p = m.next;
        ++t;
        continue;
      }
    }
    if (starResume == kNoStar) return 0;
    p = starResume;
    t = ++starText;
  }
  while (p < pattern.size() && pattern[p] == kStar) ++p;
  return p == pattern.size() ? 1 : 0;
}

}  // namespace zw
