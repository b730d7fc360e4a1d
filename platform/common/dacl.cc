#include "platform/common/dacl.h"

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

}  // namespace zw
