#include "platform/linux/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zw::posix {
namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLineTest, BlanksQuotesAndBackslashes) {
  struct Case {
    std::string line;
    Words words;
  };
  const std::vector<Case> cases = {
      {"kill 1234", {"kill", "1234"}},
      {"  kill\t 1234  ", {"kill", "1234"}},
      {"", {}},
      {" \t ", {}},
      {"\"/opt/my tools/kill\" 5", {"/opt/my tools/kill", "5"}},
      {"a\"b c\"d e", {"ab cd", "e"}},
      {"\"\" x", {"", "x"}},
      {"\"open to the end", {"open to the end"}},
      {"a\\b c\\\\d", {"a\\b", "c\\\\d"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\"b c\" d", {"a\\b c", "d"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

// The lookup against a fake file system: `executables` are the files that
// exist and may be run; `probed` is every candidate asked about, in order.
// Never the current directory: to execvp an empty entry means it, and a
// relative one is taken from it; it is the watch list's, which others may
// write.
TEST(ResolveProgramTest, LibexecThenBesideTheExecutableThenThePathNeverRelative) {
  const std::set<std::string> planted = {"kill",     "./kill",     "/kill",
                                         "bin/kill", "./bin/kill", "/bin/kill"};
  const struct {
    std::string what, name, ownDirectory, searchPath;
    std::set<std::string> executables;
    std::optional<std::string> found;
    Words probed;
  } cases[] = {
      // clang-format off
      {"installed where bin holds the system's kill", "kill", "/usr/bin", "/usr/bin",
       {"/usr/bin/kill", "/usr/libexec/zeitwache/kill"}, "/usr/libexec/zeitwache/kill", {"/usr/libexec/zeitwache/kill"}},
      {"build tree or unpacked archive", "kill", "/opt/zw/bin", "/usr/bin",
       {"/opt/zw/bin/kill", "/usr/bin/kill"}, "/opt/zw/bin/kill", {"/opt/zw/libexec/zeitwache/kill", "/opt/zw/bin/kill"}},
      {"the system's command last", "kill", "/opt/zw/bin/", "/nowhere:/usr/bin",
       {"/usr/bin/kill"}, "/usr/bin/kill", {"/opt/zw/libexec/zeitwache/kill", "/opt/zw/bin/kill", "/nowhere/kill", "/usr/bin/kill"}},
      {"executable in the root directory", "kill", "/", "/usr/bin/",
       {"/usr/bin/kill"}, "/usr/bin/kill", {"/libexec/zeitwache/kill", "/kill", "/usr/bin/kill"}},
      {"nowhere", "nosuch", "/opt/zw/bin", "/usr/bin:/bin",
       {}, std::nullopt, {"/opt/zw/libexec/zeitwache/nosuch", "/opt/zw/bin/nosuch", "/usr/bin/nosuch", "/bin/nosuch"}},
      {"empty entries", "kill", "", "::/bin:", planted, "/bin/kill", {"/bin/kill"}},
      {"relative entries", "kill", "", ".:bin:./bin:/bin", planted, "/bin/kill", {"/bin/kill"}},
      {"relative own directory", "kill", "bin", "/bin", planted, "/bin/kill", {"/bin/kill"}},
      {"only relative places", "kill", ".", ".:", planted, std::nullopt, {}},
      {"relative path", "./kill", "/opt/zw/bin", "/bin", {}, "./kill", {}},
      {"absolute path", "/no/such/kill", "/opt/zw/bin", "/bin", {}, "/no/such/kill", {}},
      {"empty name", "", "/opt/zw/bin", "/usr/bin", {"/opt/zw/bin/"}, std::nullopt, {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    Words probed;
    const auto found = ResolveProgram(
        c.name, c.ownDirectory, c.searchPath,
        [&](const std::string& path) {
          probed.push_back(path);
          return c.executables.count(path) != 0;
        },
        [](const std::string&) { return true; });
    EXPECT_EQ(found, c.found) << c.what;
    EXPECT_EQ(probed, c.probed) << c.what;
  }
}

}  // namespace
}  // namespace zw::posix
