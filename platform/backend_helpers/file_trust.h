// Whether a security descriptor lets someone other than the system, the
// administrators and the caller change a file or directory: the rule by
// which the watch list, and every directory above it, is trusted.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zw {

/// Whether `info` lets anybody but the system, the administrators and the
/// caller change the object: a null DACL, or an allowing entry with any of
/// `rights` for a broad group or another user that no earlier denying entry
/// for that trustee or for everyone takes away. Unclassified trustees are
/// not judged.
bool WritableByOthers(const SecurityInfo& info, std::uint32_t rights = kAnyWriteAccess);

/// The findings of JudgeFileTrust for a backend whose files carry DACLs:
/// each of PathAndAncestors(`path`) whose DACL (read by `read`, which
/// returns a Win32 error) lets others write the file or replace a directory
/// (kReplaceAccess). Returns the first error of `read`, or kErrorSuccess.
std::uint32_t JudgeByDacls(const std::string& path, char separator,
                           const std::function<std::uint32_t(const char*, SecurityInfo*)>& read,
                           std::vector<std::string>* findings);

/// The objects whose DACLs decide what the file `path` holds, the file
/// first: the file and every directory above it up to the root of its drive
/// or UNC share, or up to the separator alone where the path starts with
/// it. Only `path` itself when it has no such root.
std::vector<std::string> PathAndAncestors(const std::string& path, char separator);

}  // namespace zw
