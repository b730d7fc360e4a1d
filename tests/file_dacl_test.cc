// Who may change a file or folder on Windows, as its DACL says, and which
// folders above a file count.
#include "platform/win32/file_dacl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zw::win32 {
namespace {

const SecurityInfo kOpenToUsers{
    true, {{false, Trustee::kGuests, kGenericAll}, {true, Trustee::kUsers, kFileDeleteChild}}};
// As a drive's root is: anybody may add a folder, nobody may replace one.
const SecurityInfo kAddOnly{true, {{true, Trustee::kAuthenticatedUsers, kFileAppendData}}};
const SecurityInfo kOthersDenied{true,
                                 {{false, Trustee::kEveryone, kFileWriteData},
                                  {true, Trustee::kEveryone, kFileWriteData},
                                  {true, Trustee::kUnclassified, kGenericAll}}};

// A file counts with any right to write it, a folder only where others may
// replace what it holds; a denial taken first stands.
TEST(FileDaclTest, OthersMayChangeTheFileOrReplaceTheFolder) {
  const struct {
    SecurityInfo dacl;
    bool file, folder;
  } cases[] = {
      {kOthersDenied, false, false}, {kAddOnly, true, false},    {kOpenToUsers, true, true},
      {{false, {}}, true, true},     {{true, {}}, false, false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(LetsOthersChange(cases[i].dacl), cases[i].file) << i;
    EXPECT_EQ(LetsOthersChange(cases[i].dacl, kReplaceAccess), cases[i].folder) << i;
  }
  EXPECT_EQ(PathAndAncestors("C:\\WATCH\\ZEITWACHE.INI"),
            (std::vector<std::string>{"C:\\WATCH\\ZEITWACHE.INI", "C:\\WATCH", "C:\\"}));
  EXPECT_EQ(PathAndAncestors("\\\\srv\\share\\zw\\ZEITWACHE.INI"),
            (std::vector<std::string>{"\\\\srv\\share\\zw\\ZEITWACHE.INI", "\\\\srv\\share\\zw",
                                      "\\\\srv\\share\\"}));
}

}  // namespace
}  // namespace zw::win32
