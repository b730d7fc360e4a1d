#include "platform/common/file_trust.h"

#include <map>

namespace zw {
namespace {

bool IsBroadOrOther(Trustee trustee) {
  return trustee != Trustee::kSystem && trustee != Trustee::kAdministrators &&
         trustee != Trustee::kCurrentUser && trustee != Trustee::kUnclassified;
}

}  // namespace

bool WritableByOthers(const SecurityInfo& info) {
  if (!info.hasDacl) return true;
  std::map<Trustee, std::uint32_t> denied;
  for (const AccessEntry& entry : info.dacl) {
    if (!entry.allow) {
      denied[entry.trustee] |= entry.mask;
      continue;
    }
    if (!IsBroadOrOther(entry.trustee)) continue;
    const std::uint32_t taken = denied[entry.trustee] | denied[Trustee::kEveryone];
    if ((entry.mask & kAnyWriteAccess & ~taken) != 0) return true;
  }
  return false;
}

std::vector<std::string> PathAndAncestors(const std::string& path, char separator) {
  std::vector<std::string> objects{path};
  std::string rest = path;
  for (std::size_t at = rest.rfind(separator); at != std::string::npos && at > 0;
       at = rest.rfind(separator)) {
    rest.resize(at);
    // "C:" alone is the drive's current directory; its root is "C:\\".
    objects.push_back(rest.back() == ':' ? rest + separator : rest);
    if (rest.back() == ':') break;
  }
  if (path.size() > 1 && path.front() == separator && objects.back() != std::string(1, separator)) {
    objects.emplace_back(1, separator);
  }
  return objects;
}

}  // namespace zw
