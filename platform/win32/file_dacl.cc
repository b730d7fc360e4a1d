#include "platform/win32/file_dacl.h"

#include <map>

namespace zw::win32 {
namespace {

constexpr char kSeparator = '\\';

bool IsBroadOrOther(Trustee trustee) {
  return trustee != Trustee::kSystem && trustee != Trustee::kAdministrators &&
         trustee != Trustee::kCurrentUser && trustee != Trustee::kUnclassified;
}

}  // namespace

bool LetsOthersChange(const SecurityInfo& info, std::uint32_t rights) {
  if (!info.hasDacl) return true;
  std::map<Trustee, std::uint32_t> denied;
  for (const AccessEntry& entry : info.dacl) {
    if (!entry.allow) {
      denied[entry.trustee] |= entry.mask;
      continue;
    }
    if (!IsBroadOrOther(entry.trustee)) continue;
    const std::uint32_t taken = denied[entry.trustee] | denied[Trustee::kEveryone];
    if ((entry.mask & rights & ~taken) != 0) return true;
  }
  return false;
}

std::vector<std::string> PathAndAncestors(const std::string& path) {
  std::vector<std::string> objects{path};
  // The separator the root keeps: the one after a drive letter, after the
  // share of a UNC path, or the leading one.
  std::size_t root = 0;
  if (path.size() > 2 && path[0] == kSeparator && path[1] == kSeparator) {
    const std::size_t server = path.find(kSeparator, 2);
    root = server == std::string::npos ? server : path.find(kSeparator, server + 1);
  } else if (path.size() > 2 && path[1] == ':') {
    root = 2;
  }
  if (root == std::string::npos || root >= path.size() || path[root] != kSeparator) return objects;
  for (std::size_t at = path.rfind(kSeparator); at != std::string::npos && at > root;
       at = path.rfind(kSeparator, at - 1)) {
    objects.push_back(path.substr(0, at));
  }
  if (path.size() > root + 1) objects.push_back(path.substr(0, root + 1));
  return objects;
}

}  // namespace zw::win32
