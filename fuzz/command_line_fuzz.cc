// The command-line splitter and the program lookup behind a bare command.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/linux/command_line.h"

using zw::fuzz::Require;

namespace {

// Quotes `word` so that the splitter gives it back: backslashes before a
// quote (or before the closing quote) are doubled and the quote escaped.
std::string Quote(std::string_view word) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

std::string Join(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + Quote(word);
  return line;
}

void CheckResolve(const std::vector<std::string>& words) {
  if (words.size() < 3) return;
  const std::string& name = words[0];
  std::vector<std::string> asked;
  // Some candidates exist, some do not; which ones depends on the input.
  const auto exists = [&](const std::string& candidate) {
    asked.push_back(candidate);
    return candidate.size() % 3 == 0;
  };
  // Some of those are trusted; an untrusted one is never the result.
  const auto trusted = [](const std::string& candidate) { return candidate.size() % 2 == 0; };
  const auto found = zw::posix::ResolveProgram(name, words[1], words[2], exists, trusted);
  if (name.find('/') != std::string::npos) {
    Require(found == name && asked.empty(), "a path was looked up");
    return;
  }
  if (!found) return;
  Require(!asked.empty() && *found == asked.back(), "result not the accepted candidate");
  Require(found->ends_with("/" + name), "candidate not in a directory");
  Require(trusted(*found), "untrusted candidate chosen");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> words = zw::posix::SplitCommandLine(line);
  std::size_t total = 0;
  for (const std::string& word : words) total += word.size();
  Require(total <= line.size(), "words longer than the line");
  // Quoted and joined again, the words split the same.
  Require(zw::posix::SplitCommandLine(Join(words)) == words, "words do not round-trip");
  CheckResolve(words);
  return 0;
}
