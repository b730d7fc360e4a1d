#include "platform/linux/trusted_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/linux/linux_fixture.h"

namespace zw::posix {
namespace {

constexpr std::uint32_t kDir = S_IFDIR | 0755, kFile = S_IFREG | 0755;
constexpr std::uint32_t kTmp = S_IFDIR | S_ISVTX | 0777, kLink = S_IFLNK | 0777;

// Names met on the way to a program, owned by root unless said otherwise.
TEST(JudgeTrustTest, OnlyRootOrTheUserCanHavePutTheProgramThere) {
  const struct {
    std::uint32_t euid;
    std::vector<PathFacts> facts;
    std::string why;  // empty: trusted
  } cases[] = {
      // clang-format off
      {0, {{"/", 0, kDir}, {"/x", 0, kDir}, {"/x/kill", 0, kFile}}, ""},
      {1000, {{"/", 0, kDir}, {"/x", 1000, kDir}, {"/x/kill", 1000, kFile}}, ""},
      {0, {{"/", 0, kDir}, {"/x", 0, kDir}, {"/x/kill", 1000, kFile}}, "/x/kill is owned by user 1000"},
      {0, {{"/", 0, kDir}, {"/x", 1000, kDir}, {"/x/kill", 0, kFile}}, "/x is owned by user 1000"},
      {0, {{"/", 0, kDir}, {"/x", 0, S_IFDIR | 0775}, {"/x/kill", 0, kFile}}, "/x is writable by group or others"},
      {0, {{"/", 0, kDir}, {"/x", 0, kDir}, {"/x/kill", 0, S_IFREG | 0757}}, "/x/kill is writable by group or others"},
      {0, {{"/", 0, kDir}, {"/tmp", 0, kTmp}, {"/tmp/b", 0, kDir}, {"/tmp/b/kill", 0, kFile}}, ""},
      {0, {{"/", 0, kDir}, {"/tmp", 0, kTmp}, {"/tmp/b", 1000, kDir}, {"/tmp/b/kill", 0, kFile}}, "/tmp/b is owned by user 1000"},
      {0, {{"/", 0, kDir}, {"/tmp", 0, kTmp}, {"/tmp/l", 1000, kLink}, {"/usr/kill", 0, kFile}}, "/tmp/l is owned by user 1000"},
      {0, {{"/", 0, kDir}, {"/x/kill", 0, kLink}, {"/y/kill", 0, kFile}}, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JudgeTrust(c.facts, c.euid).value_or(""), c.why) << c.facts.back().path;
  }
}

// A link is judged by where it lies as well as by where it leads.
TEST(JudgeTrustTest, FollowsLinksAndJudgesWhereTheyLie) {
  const zw::testing::TempDir temp;
  const std::filesystem::path dir = temp.path(), open = dir / "open", program = dir / "kill";
  std::filesystem::copy_file("/bin/true", program);
  std::filesystem::create_directory(open);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  std::filesystem::create_symlink("../kill", open / "kill");
  std::filesystem::create_symlink(open / "kill", dir / "link");
  EXPECT_EQ(DistrustOf(program.string(), geteuid()), std::nullopt);
  EXPECT_EQ(DistrustOf((dir / "link").string(), geteuid()),
            open.string() + " is writable by group or others");
}

}  // namespace
}  // namespace zw::posix
