#include "platform/win32/command_lookup.h"

#include <gtest/gtest.h>

#include <map>
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

// On the path, a kill.exe that others could have planted or replaced is
// passed over with its reason; beside the executable nothing is judged.
TEST(CommandLookupTest, UntrustedPathCandidatesAreSkipped) {
  const SecurityInfo usersWrite{true, {{true, Trustee::kUsers, kFileAppendData}}};
  const struct {
    std::map<std::string, SecurityInfo> security;  // others: an empty DACL
    std::optional<std::string> found;
    std::string skipped;
  } cases[] = {
      // clang-format off
      {{{"C:\\Pub", usersWrite}}, "D:\\bin\\kill.exe", "C:\\Pub\\kill.exe: C:\\Pub can be changed by other users;"},
      {{{"C:\\Pub\\kill.exe", {false, {}}}, {"D:\\bin", usersWrite}}, std::nullopt, "C:\\Pub\\kill.exe: C:\\Pub\\kill.exe can be changed by other users;D:\\bin\\kill.exe: D:\\bin can be changed by other users;"},
      {{}, "C:\\Pub\\kill.exe", ""},
      {{{"C:\\zw", usersWrite}}, "C:\\zw\\kill.exe", ""},  // beside the executable
      // clang-format on
  };
  for (const auto& c : cases) {
    std::string skipped;
    const auto found = FindProgram(
        "kill", "C:\\zw", "C:\\Pub;D:\\bin",
        [&](const std::string& path) {
          return path != "C:\\zw\\kill.exe" || c.security.count("C:\\zw");
        },
        [&](const std::string& path) {
          return DistrustOf(path, [&](const std::string& object, SecurityInfo* info) {
            const auto dacl = c.security.find(object);
            *info = dacl == c.security.end() ? SecurityInfo{} : dacl->second;
            return 0u;
          });
        },
        [&](const std::string& path, const std::string& why) {
          skipped += path + ": " + why + ";";
        });
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(skipped, c.skipped);
  }
}

}  // namespace
}  // namespace zw::win32
