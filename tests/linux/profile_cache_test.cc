// The parsed watch list kept between reads: every edit is seen by the next
// read, however it is made.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <string>

#include "platform/linux/profile_file.h"
#include "tests/linux/linux_fixture.h"

namespace zw::posix {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& value) {
  std::ofstream(path, std::ios::trunc) << "[PGM]\nPGM001=" << value << "\n";
}

// Sets both file times an hour back, out of the racy window.
void Age(const fs::path& path) {
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(ProfileCache, EveryEditIsSeenByTheNextRead) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "ZEITWACHE.INI";
  const fs::path other = dir.path() / "other.ini";
  struct Edit {
    const char* what;
    std::function<void()> edit;
    const char* expected;
  };
  const Edit edits[] = {
      {"first read", [&] { Write(file, "aaaa"); }, "aaaa"},
      {"aged, unchanged", [&] { Age(file); }, "aaaa"},
      {"same size, times set back", [&] { Write(file, "bbbb"), Age(file); }, "bbbb"},
      {"replaced by another file",
       [&] { Write(other, "cccc"), Age(other), fs::rename(other, file); }, "cccc"},
      {"within the racy window", [&] { Write(file, "dddd"); }, "dddd"},
      {"again within it", [&] { Write(file, "eeee"); }, "eeee"},
      {"removed", [&] { fs::remove(file); }, nullptr},
  };
  ProfileCache cache;
  for (const Edit& row : edits) {
    SCOPED_TRACE(row.what);
    row.edit();
    const ProfileIndex* index = cache.Load(file.c_str());
    ASSERT_EQ(index != nullptr, row.expected != nullptr);
    if (index != nullptr) {
      EXPECT_EQ(index->Find("PGM", "PGM001"), row.expected);
    }
  }
}

}  // namespace
}  // namespace zw::posix
