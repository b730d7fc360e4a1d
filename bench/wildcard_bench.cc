// Times WildcardMatch on inputs chosen to make it work hardest: a name of the
// longest length a path component can have, against patterns of 30 stars
// whose last segment almost fits at every text position.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "enforce/wildcard.h"

namespace {

constexpr int kStars = 30;
constexpr int kTextLength = 259;
constexpr int kRuns = 20000;

struct BenchCase {
  const char* name;
  std::string text;
  std::string pattern;
};

std::string Repeat(const std::string& piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

std::vector<BenchCase> Cases() {
  const std::string as(kTextLength, 'A');
  const std::string lower(kTextLength, 'a');
  const std::string set = "[!-@A]";
  return {
      {"*A x30 *B", as, Repeat("*A", kStars) + "*B"},
      {"*A x30 *B, lower-case text", lower, Repeat("*A", kStars) + "*B"},
      {"*A x29 * A x200 B", as, Repeat("*A", kStars - 1) + "*" + std::string(200, 'A') + "B"},
      {"*? x29 * ? x200 B", as, Repeat("*?", kStars - 1) + "*" + std::string(200, '?') + "B"},
      {"*set x29 * set x40 B", as, Repeat("*" + set, kStars - 1) + "*" + Repeat(set, 40) + "B"},
      {"* x30 B", as, std::string(kStars, '*') + "B"},
      {"*A x30 * (matches)", as, Repeat("*A", kStars) + "*"},
  };
}

// Mean, 99th percentile and maximum of single calls. The maximum mostly
// measures the scheduler; the percentile is the figure to quote.
void Time(const BenchCase& c, int* sink) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> micros;
  micros.reserve(kRuns);
  double total = 0;
  for (int i = 0; i < kRuns; ++i) {
    const Clock::time_point before = Clock::now();
    *sink += zw::WildcardMatch(c.text, c.pattern);
    const std::chrono::duration<double, std::micro> took = Clock::now() - before;
    micros.push_back(took.count());
    total += took.count();
  }
  std::sort(micros.begin(), micros.end());
  std::printf("%-28s %3zu chars  mean %8.2f us  p99 %8.2f us  max %8.2f us\n", c.name,
              c.pattern.size(), total / kRuns, micros[micros.size() * 99 / 100], micros.back());
}

}  // namespace

int main() {
  int matches = 0;
  std::printf("text %d chars, %d runs per case, pattern length shown\n", kTextLength, kRuns);
  for (const BenchCase& c : Cases()) Time(c, &matches);
  std::printf("matches: %d\n", matches);
  return 0;
}
