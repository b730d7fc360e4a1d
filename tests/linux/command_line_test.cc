#include "platform/linux/command_line.h"

#include <gtest/gtest.h>

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

class ResolveProgramTest : public ::testing::Test {
 protected:
  std::optional<std::string> Resolve(std::string_view name, std::string_view ownDirectory,
                                     std::string_view searchPath) {
    probed_.clear();
    return ResolveProgram(name, ownDirectory, searchPath, [this](const std::string& path) {
      probed_.push_back(path);
      return executables_.count(path) != 0;
    });
  }

  std::set<std::string> executables_ = {"/opt/zw/kill", "/usr/bin/kill", "/bin/kill", "/bin/true",
                                        "true"};
  Words probed_;
};

TEST_F(ResolveProgramTest, OwnDirectoryComesBeforeThePath) {
  EXPECT_EQ(Resolve("kill", "/opt/zw", "/usr/bin:/bin"), "/opt/zw/kill");
  EXPECT_EQ(probed_, Words{"/opt/zw/kill"});
  EXPECT_EQ(Resolve("kill", "/opt/other", "/nowhere:/usr/bin:/bin"), "/usr/bin/kill");
  EXPECT_EQ(probed_, (Words{"/opt/other/kill", "/nowhere/kill", "/usr/bin/kill"}));
}

TEST_F(ResolveProgramTest, PathEntriesAndNames) {
  // Empty entries would mean the current directory; they are skipped.
  EXPECT_EQ(Resolve("true", "", "::/bin:"), "/bin/true");
  EXPECT_EQ(probed_, Words{"/bin/true"});
  EXPECT_EQ(Resolve("kill", "/", "/usr/bin/"), "/usr/bin/kill");
  EXPECT_EQ(probed_, (Words{"/kill", "/usr/bin/kill"}));
  // A name with a directory in it is taken as it is, found or not.
  EXPECT_EQ(Resolve("./kill", "/opt/zw", "/bin"), "./kill");
  EXPECT_EQ(Resolve("/no/such/kill", "/opt/zw", "/bin"), "/no/such/kill");
  EXPECT_TRUE(probed_.empty());
  EXPECT_EQ(Resolve("nosuch", "/opt/zw", "/usr/bin:/bin"), std::nullopt);
  EXPECT_EQ(Resolve("", "/opt/zw", "/usr/bin"), std::nullopt);
}

}  // namespace
}  // namespace zw::posix
