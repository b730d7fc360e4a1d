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

// Sets both file times `seconds` away from now: back, out of the racy
// window, or ahead, where no window can help.
void Age(const fs::path& path, int seconds = -3600) {
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec += seconds;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Every edit is seen, and the list is parsed once per change of its bytes.
TEST(ProfileCache, EveryEditIsSeenByTheNextRead) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "ZEITWACHE.INI";
  const fs::path other = dir.path() / "other.ini";
  struct Edit {
    const char* what;
    std::function<void()> edit;
    const char* expected;
    bool parsed;
  };
  const Edit edits[] = {
      {"first read", [&] { Write(file, "aaaa"); }, "aaaa", true},
      {"aged, unchanged", [&] { Age(file); }, "aaaa", false},
      {"same size, times set back", [&] { Write(file, "bbbb"), Age(file); }, "bbbb", true},
      {"replaced by another file",
       [&] { Write(other, "cccc"), Age(other), fs::rename(other, file); }, "cccc", true},
      {"within the racy window", [&] { Write(file, "dddd"); }, "dddd", true},
      {"again within it", [&] { Write(file, "eeee"); }, "eeee", true},
      {"unchanged within it", [] {}, "eeee", false},
      {"stamped an hour ahead", [&] { Age(file, 3600); }, "eeee", false},
      {"same size, stamped ahead", [&] { Write(file, "ffff"), Age(file, 3600); }, "ffff", true},
      {"unchanged, stamped ahead", [] {}, "ffff", false},
      {"removed", [&] { fs::remove(file); }, nullptr, false},
  };
  ProfileCache cache;
  for (const Edit& row : edits) {
    SCOPED_TRACE(row.what);
    row.edit();
    const std::uint64_t parses = cache.Parses();
    const ProfileIndex* index = cache.Load(file.c_str());
    EXPECT_EQ(cache.Parses() - parses, row.parsed ? 1u : 0u);
    ASSERT_EQ(index != nullptr, row.expected != nullptr);
    if (index != nullptr) {
      EXPECT_EQ(index->Find("PGM", "PGM001"), row.expected);
    }
  }
}

// A file read before the list (the metrics file, elsewhere) does not take
// the list's directory: the list's own is held, and a swap is not followed.
TEST(ProfileCache, HoldsTheListsDirectoryNotThatOfAFileReadBefore) {
  testing::TempDir dir;
  const fs::path lists = dir.path() / "lists", metrics = dir.path() / "metrics";
  fs::create_directories(lists), fs::create_directories(metrics);
  Write(metrics / "zeitwache.prom", "metrics");
  Write(lists / "ZEITWACHE.INI", "held");
  ProfileCache cache;
  int fd = -1;
  ASSERT_EQ(cache.Open((metrics / "zeitwache.prom").c_str(), &fd), 0);
  ::close(fd);
  const std::string list = (lists / "ZEITWACHE.INI").string();
  ASSERT_NE(cache.Load(list.c_str()), nullptr);
  fs::rename(lists, dir.path() / "moved");
  fs::create_directories(lists);
  Write(lists / "ZEITWACHE.INI", "swapped");
  const ProfileIndex* index = cache.Load(list.c_str());
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(index->Find("PGM", "PGM001"), "held");
}

}  // namespace
}  // namespace zw::posix
