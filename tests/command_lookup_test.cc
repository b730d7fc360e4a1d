#include "platform/win32/command_lookup.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/scripted/scripted_platform.h"

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
  const SecurityInfo adminsOnly{true, {{true, Trustee::kAdministrators, kGenericAll}}};
  const struct {
    std::map<std::string, SecurityInfo> security;  // any other object: readable, empty DACL
    std::optional<std::string> found;
    std::string skipped;
  } cases[] = {
      // clang-format off
      {{{"C:\\Users\\Public", usersWrite}}, "D:\\tools\\kill.exe", "C:\\Users\\Public\\kill.exe: C:\\Users\\Public can be changed by other users;"},
      {{{"C:\\Users\\Public\\kill.exe", SecurityInfo{false, {}}}, {"D:\\tools", usersWrite}}, std::nullopt, "C:\\Users\\Public\\kill.exe: C:\\Users\\Public\\kill.exe can be changed by other users;D:\\tools\\kill.exe: D:\\tools can be changed by other users;"},
      {{{"C:\\Users\\Public", adminsOnly}}, "C:\\Users\\Public\\kill.exe", ""},
      {{{"C:\\zw", usersWrite}}, "C:\\zw\\kill.exe", ""},  // beside the executable
      // clang-format on
  };
  for (const auto& c : cases) {
    ScriptedPlatform platform;
    platform.security = c.security;
    const SecurityReader security = [&](const std::string& object, SecurityInfo* info) {
      return platform.GetNamedSecurityInfoA(object.c_str(), info);
    };
    std::string skipped;
    const auto found = FindProgram(
        "kill", "C:\\zw", "C:\\Users\\Public;D:\\tools",
        [&](const std::string& candidate) {
          return candidate != "C:\\zw\\kill.exe" || c.security.count("C:\\zw") != 0;
        },
        [&](const std::string& candidate) { return DistrustOf(candidate, security); },
        [&](const std::string& candidate, const std::string& why) {
          skipped += candidate + ": " + why + ";";
        });
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(skipped, c.skipped);
  }
  ScriptedPlatform unreadable;
  unreadable.failures[ScriptedOp::kGetNamedSecurityInfo] = kErrorAccessDenied;
  EXPECT_EQ(DistrustOf("C:\\bin\\kill.exe",
                       [&](const std::string& object, SecurityInfo* info) {
                         return unreadable.GetNamedSecurityInfoA(object.c_str(), info);
                       }),
            "the permissions of C:\\bin cannot be read (error 5)");
}

}  // namespace
}  // namespace zw::win32
