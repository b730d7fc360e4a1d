#include "platform/win32/command_lookup.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zw::win32 {
namespace {

// Beside the executable, then absolute PATH entries; never the current
// directory, where the watch list lies.
TEST(CommandLookupTest, BesideTheExecutableThenAbsolutePathEntriesOnly) {
  EXPECT_EQ(ProgramWord("kill\t12"), "kill");
  EXPECT_EQ(ProgramWord("\"C:\\Program Files\\kill.exe\" 12"), "C:\\Program Files\\kill.exe");
  const struct {
    std::string name, module, path;
    std::set<std::string> files;
    std::optional<std::string> found;
    std::vector<std::string> probed;
  } cases[] = {
      // clang-format off
      {"kill", "C:\\zw", "C:\\bin", {"C:\\zw\\kill.exe", "C:\\bin\\kill.exe"}, "C:\\zw\\kill.exe", {"C:\\zw\\kill.exe"}},
      {"kill", "C:\\zw\\", ".;;bin;C:;\"D:\\tools\"", {"D:\\tools\\kill.exe"}, "D:\\tools\\kill.exe", {"C:\\zw\\kill.exe", "D:\\tools\\kill.exe"}},
      {"kill.exe", "", "\\\\srv\\share", {"\\\\srv\\share\\kill.exe"}, "\\\\srv\\share\\kill.exe", {"\\\\srv\\share\\kill.exe"}},
      {"kill", "zw", ".", {"kill.exe", ".\\kill.exe"}, std::nullopt, {}},
      {".\\kill", "C:\\zw", "C:\\bin", {}, std::nullopt, {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<std::string> probed;
    const auto found = FindProgram(c.name, c.module, c.path, [&](const std::string& candidate) {
      probed.push_back(candidate);
      return c.files.count(candidate) != 0;
    });
    EXPECT_EQ(found, c.found) << c.name << " in " << c.path;
    EXPECT_EQ(probed, c.probed) << c.name << " in " << c.path;
  }
}

}  // namespace
}  // namespace zw::win32
