#include "platform/linux/trusted_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace zw::posix {
namespace {

constexpr std::uint32_t kDir = S_IFDIR | 0755;
constexpr std::uint32_t kFile = S_IFREG | 0755;
constexpr std::uint32_t kTmp = S_IFDIR | S_ISVTX | 0777;
constexpr std::uint32_t kLink = S_IFLNK | 0777;

// Names met on the way to "/x/kill", owned by root unless said otherwise.
TEST(JudgeTrustTest, OnlyRootOrTheUserCanHavePutTheProgramThere) {
  const struct {
    const char* what;
    std::uint32_t euid;
    std::vector<PathFacts> facts;
    std::string why;  // empty: trusted
  } cases[] = {
      // clang-format off
      {"root's tree", 0, {{"/", 0, kDir}, {"/x", 0, kDir}, {"/x/kill", 0, kFile}}, ""},
      {"the user's own file", 1000, {{"/", 0, kDir}, {"/x", 1000, kDir}, {"/x/kill", 1000, kFile}}, ""},
      {"another user's file", 0, {{"/", 0, kDir}, {"/x", 0, kDir}, {"/x/kill", 1000, kFile}}, "/x/kill is owned by user 1000"},
      {"another user's directory", 0, {{"/", 0, kDir}, {"/x", 1000, kDir}, {"/x/kill", 0, kFile}}, "/x is owned by user 1000"},
      {"group-writable directory", 0, {{"/", 0, kDir}, {"/x", 0, S_IFDIR | 0775}, {"/x/kill", 0, kFile}}, "/x is writable by group or others"},
      {"world-writable file", 0, {{"/", 0, kDir}, {"/x", 0, kDir}, {"/x/kill", 0, S_IFREG | 0757}}, "/x/kill is writable by group or others"},
      {"world-writable, not sticky", 0, {{"/", 0, kDir}, {"/x", 0, S_IFDIR | 0777}, {"/x/kill", 0, kFile}}, "/x is writable by group or others"},
      {"build tree in /tmp", 0, {{"/", 0, kDir}, {"/tmp", 0, kTmp}, {"/tmp/b", 0, kDir}, {"/tmp/b/kill", 0, kFile}}, ""},
      {"another user's tree in /tmp", 0, {{"/", 0, kDir}, {"/tmp", 0, kTmp}, {"/tmp/b", 1000, kDir}, {"/tmp/b/kill", 0, kFile}}, "/tmp/b is owned by user 1000"},
      {"another user's link in /tmp", 0, {{"/", 0, kDir}, {"/tmp", 0, kTmp}, {"/tmp/l", 1000, kLink}, {"/usr", 0, kDir}, {"/usr/kill", 0, kFile}}, "/tmp/l is owned by user 1000"},
      {"root's link", 0, {{"/", 0, kDir}, {"/x", 0, kDir}, {"/x/kill", 0, kLink}, {"/y", 0, kDir}, {"/y/kill", 0, kFile}}, ""},
      {"a sticky directory is no program", 0, {{"/", 0, kDir}, {"/tmp", 0, kTmp}}, "/tmp is writable by group or others"},
      {"nothing", 0, {}, "nothing to judge"},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(JudgeTrust(c.facts, c.euid), c.why) << c.what;
}

// Links are followed, and the link and the directory it lies in are judged
// as well as what it points to.
TEST(JudgeTrustTest, FollowsLinksAndJudgesWhereTheyLie) {
  char pattern[] = "/tmp/zw-trust-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  const std::filesystem::path open = dir / "open";
  std::filesystem::create_directory(open);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  std::filesystem::create_directory(dir / "safe");
  ASSERT_EQ(chmod((dir / "safe").c_str(), 0755), 0);
  const std::filesystem::path program = dir / "safe" / "kill";
  std::filesystem::copy_file("/bin/true", program);
  std::filesystem::create_symlink("../safe/kill", open / "kill");
  std::filesystem::create_symlink(open / "kill", dir / "safe" / "link");
  std::vector<PathFacts> facts;
  int error = 0;
  ASSERT_TRUE(CollectPathFacts((dir / "safe" / "link").string(), &facts, &error)) << error;
  EXPECT_EQ(facts.back().path, program.string());
  EXPECT_EQ(DistrustOf(program.string(), geteuid()), "");
  EXPECT_EQ(DistrustOf((dir / "safe" / "link").string(), geteuid()),
            open.string() + " is writable by group or others");
  EXPECT_NE(DistrustOf((dir / "missing").string(), geteuid()), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zw::posix
