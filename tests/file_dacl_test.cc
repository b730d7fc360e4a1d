// Who may change a file on Windows, as its DACL and those of the
// directories above it say.
#include "platform/win32/file_dacl.h"

#include <gtest/gtest.h>

#include <map>
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

// The file and every directory up to the root; a directory counts only
// where others may replace what it holds, and a denial taken first stands.
TEST(FileDaclTest, FileAndDirectoriesAboveItOthersCouldChange) {
  const std::string list = "C:\\WATCH\\ZEITWACHE.INI";
  const struct {
    std::map<std::string, SecurityInfo> dacls;  // others: an empty DACL
    std::vector<std::string> findings;
  } cases[] = {
      {{{"C:\\WATCH", kOthersDenied}, {"C:\\", kAddOnly}}, {}},
      {{{"C:\\", kOpenToUsers}, {list, SecurityInfo{false, {}}}},
       {list + " is writable by other users", "C:\\ is writable by other users"}},
      {{{list, kAddOnly}}, {list + " is writable by other users"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> findings;
    const auto read = [&](const std::string& object, SecurityInfo* info) {
      const auto dacl = c.dacls.find(object);
      *info = dacl == c.dacls.end() ? SecurityInfo{} : dacl->second;
      return 0u;
    };
    EXPECT_EQ(JudgeByDacls(list, read, &findings), 0u);
    EXPECT_EQ(findings, c.findings);
  }
  std::vector<std::string> findings;
  const auto denied = [](const std::string&, SecurityInfo*) { return 5u; };
  EXPECT_EQ(JudgeByDacls(list, denied, &findings), 5u);
  EXPECT_EQ(PathAndAncestors("\\\\srv\\share\\zw\\ZEITWACHE.INI"),
            (std::vector<std::string>{"\\\\srv\\share\\zw\\ZEITWACHE.INI", "\\\\srv\\share\\zw",
                                      "\\\\srv\\share\\"}));
}

}  // namespace
}  // namespace zw::win32
