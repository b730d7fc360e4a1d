// Replacing the metrics file while a collector reads it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/linux/linux_fixture.h"

namespace zw {
namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sizes far beyond one write of a pipe or a page, so that a file rewritten
// in place would be caught half-way.
TEST(ReplaceFileContents, AReaderSeesTheOldFileOrTheNewNeverAPart) {
  const testing::TempDir dir;
  const std::string path = (dir.path() / "zeitwache.prom").string();
  const std::string versions[] = {std::string(3000, 'a') + "\n", std::string(90000, 'b') + "\n"};
  const auto platform = MakeNativePlatform();
  ASSERT_EQ(platform->ReplaceFileContents(path.c_str(), versions[0]), 0u);
  std::atomic<bool> writing = true;
  int reads = 0;
  int torn = 0;
  std::thread reader([&] {
    while (writing) {
      const std::string text = ReadWhole(path);
      ++reads;
      if (text != versions[0] && text != versions[1]) ++torn;
    }
  });
  for (int i = 1; i <= 1000; ++i) {
    ASSERT_EQ(platform->ReplaceFileContents(path.c_str(), versions[i % 2]), 0u);
  }
  writing = false;
  reader.join();
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_GT(reads, 0);
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
  // No new file is left beside it, and a directory that is missing fails.
  EXPECT_EQ(std::distance(testing::fs::directory_iterator(dir.path()), {}), 1);
  EXPECT_NE(platform->ReplaceFileContents((dir.path() / "no/x.prom").c_str(), "x"), 0u);
  // Through a link, the file it leads to is replaced and the link stays.
  const auto link = dir.path() / "link.prom";
  testing::fs::create_symlink("zeitwache.prom", link);
  ASSERT_EQ(platform->ReplaceFileContents(link.c_str(), "new\n"), 0u);
  EXPECT_TRUE(testing::fs::is_symlink(link));
  EXPECT_EQ(ReadWhole(path), "new\n");
}

}  // namespace
}  // namespace zw
