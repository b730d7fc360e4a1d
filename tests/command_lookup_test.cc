#include "platform/win32/command_lookup.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zw::win32 {
namespace {

TEST(CommandLookupTest, ReadsTheProgramWordAsCreateProcessDoes) {
  EXPECT_EQ(ProgramWord("kill 1234"), "kill");
  EXPECT_EQ(ProgramWord("kill\t1234"), "kill");
  EXPECT_EQ(ProgramWord("\"C:\\Program Files\\zw\\kill.exe\" 1234"),
            "C:\\Program Files\\zw\\kill.exe");
  EXPECT_EQ(ProgramWord("\"unclosed"), "unclosed");
  for (const char* path : {"C:\\kill.exe", ".\\kill", "bin/kill", "C:kill"}) {
    EXPECT_TRUE(HoldsPath(path)) << path;
  }
  EXPECT_FALSE(HoldsPath("kill.exe"));
}

// Beside the executable, then absolute PATH entries; never the current
// directory, where the watch list lies.
TEST(CommandLookupTest, BesideTheExecutableThenAbsolutePathEntriesOnly) {
  const struct {
    const char* what;
    std::string name, module, path;
    std::set<std::string> files;
    std::optional<std::string> found;
    std::vector<std::string> probed;
  } cases[] = {
      // clang-format off
      {"beside", "kill", "C:\\zw", "C:\\bin", {"C:\\zw\\kill.exe", "C:\\bin\\kill.exe"}, "C:\\zw\\kill.exe", {"C:\\zw\\kill.exe"}},
      {"path, relative entries skipped", "kill", "C:\\zw\\", ".;;bin;\"D:\\tools\";\\\\srv\\share",
       {"D:\\tools\\kill.exe"}, "D:\\tools\\kill.exe", {"C:\\zw\\kill.exe", "D:\\tools\\kill.exe"}},
      {"UNC entry", "kill.exe", "", "\\\\srv\\share", {"\\\\srv\\share\\kill.exe"}, "\\\\srv\\share\\kill.exe", {"\\\\srv\\share\\kill.exe"}},
      {"nowhere", "kill", "zw", ".;C:", {"kill.exe", ".\\kill.exe"}, std::nullopt, {}},
      {"a path is not looked up", "C:\\x\\kill", "C:\\zw", "C:\\bin", {}, std::nullopt, {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<std::string> probed;
    const auto found = FindProgram(c.name, c.module, c.path, [&](const std::string& candidate) {
      probed.push_back(candidate);
      return c.files.count(candidate) != 0;
    });
    EXPECT_EQ(found, c.found) << c.what;
    EXPECT_EQ(probed, c.probed) << c.what;
  }
}

}  // namespace
}  // namespace zw::win32
