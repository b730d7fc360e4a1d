// The wildcard matcher over any text and pattern, compared with a plain
// dynamic-programming matcher over the same elements.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <string_view>
#include <vector>

#include "enforce/wildcard.h"
#include "fuzz/fuzz_check.h"

using zw::fuzz::Require;

namespace {

// The pattern's elements: "*", or one that takes exactly one character ("?",
// a set with its brackets, or a literal). Empty when a set is left open.
std::vector<std::string_view> Elements(std::string_view pattern, bool* closed) {
  std::vector<std::string_view> elements;
  *closed = true;
  for (std::size_t at = 0; at < pattern.size();) {
    std::size_t length = 1;
    if (pattern[at] == '[') {
      const std::size_t close = pattern.find(']', at + 1);
      if (close == std::string_view::npos) {
        *closed = false;
        return {};
      }
      length = close - at + 1;
    }
    elements.push_back(pattern.substr(at, length));
    at += length;
  }
  return elements;
}

// Whether a one-character element takes `c`, asked of the matcher itself:
// what is checked here is how the elements are strung together.
bool Takes(std::string_view element, char c) {
  return zw::WildcardMatch(std::string_view(&c, 1), element) == 1;
}

int ReferenceMatch(std::string_view text, std::string_view pattern) {
  text = text.substr(0, text.find('\0'));
  pattern = pattern.substr(0, pattern.find('\0'));
  bool closed = false;
  const std::vector<std::string_view> elements = Elements(pattern, &closed);
  if (!closed) return 0;
  // matches[t]: the elements so far match the first t text characters.
  std::vector<bool> matches(text.size() + 1, false);
  matches[0] = true;
  for (const std::string_view element : elements) {
    std::vector<bool> next(text.size() + 1, false);
    for (std::size_t t = 0; t <= text.size(); ++t) {
      if (element == "*") {
        next[t] = matches[t] || (t > 0 && next[t - 1]);
      } else {
        next[t] = t > 0 && matches[t - 1] && Takes(element, text[t - 1]);
      }
    }
    matches = std::move(next);
  }
  return matches[text.size()] ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Program names and patterns are short; longer inputs only slow the run.
  const std::string text = input.ConsumeRandomLengthString(300);
  const std::string pattern = input.ConsumeRandomLengthString(300);
  Require(zw::WildcardMatch(text, pattern) == ReferenceMatch(text, pattern),
          "differs from the reference matcher");
  return 0;
}
