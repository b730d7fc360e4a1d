// Who may change a file, as its DACL says: the access entries as far as
// the trust in a file goes, and the judgement over them by which the watch
// list, every folder above it and a program found on the path are trusted.
// Pure, without a Windows header, so that it is tested on any system;
// file_security.cc reads the entries from Windows, list_trust.cc walks the
// list's path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zw::win32 {

/// Whom an access entry of a security descriptor speaks of, as far as the
/// trust in a file goes: the system's own accounts (TrustedInstaller among
/// them) and the caller; the broad groups that take in other users; another
/// account or group of the machine or its domain; and every other account
/// or group, which is not judged.
enum class Trustee {
  kSystem,
  kAdministrators,
  kCurrentUser,
  kEveryone,
  kAuthenticatedUsers,
  kUsers,
  kGuests,
  kOtherUser,
  kUnclassified,
};

/// One allowing or denying entry of a DACL, in the order the DACL holds
/// them. Entries that only pass on to children are left out.
struct AccessEntry {
  bool allow = true;
  Trustee trustee = Trustee::kUnclassified;
  std::uint32_t mask = 0;
};

/// The DACL of a file or directory. `hasDacl` false is a null DACL, which
/// lets everybody do everything.
struct SecurityInfo {
  bool hasDacl = true;
  std::vector<AccessEntry> dacl;
};

/// Access rights that let their holder change what a file holds, or which
/// files a directory holds, or who may do so.
inline constexpr std::uint32_t kFileWriteData = 0x0002;   // also FILE_ADD_FILE
inline constexpr std::uint32_t kFileAppendData = 0x0004;  // also FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t kFileDeleteChild = 0x0040;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kAnyWriteAccess = kFileWriteData | kFileAppendData |
                                                 kFileDeleteChild | kDelete | kWriteDac |
                                                 kWriteOwner | kGenericAll | kGenericWrite;
/// Access rights that let their holder replace what a directory holds, or
/// the directory itself: adding entries alone does not, as a name that is
/// taken cannot be taken again.
inline constexpr std::uint32_t kReplaceAccess =
    kFileDeleteChild | kDelete | kWriteDac | kWriteOwner | kGenericAll;

/// Reads the DACL of a file or directory into `*info`; kErrorSuccess or a
/// Win32 error.
using SecurityReader = std::function<std::uint32_t(const std::string& object, SecurityInfo* info)>;

/// Whether `info` lets anybody but the system, the administrators and the
/// caller change the object: a null DACL, or an allowing entry with any of
/// `rights` for a broad group or another user that no earlier denying entry
/// for that trustee or for everyone takes away. Unclassified trustees are
/// not judged.
bool LetsOthersChange(const SecurityInfo& info, std::uint32_t rights = kAnyWriteAccess);

/// The objects whose DACLs decide what the file `path` holds, the file
/// first: the file and every directory above it up to the root of its drive
/// or UNC share, or up to the separator alone where the path starts with
/// it. Only `path` itself when it has no such root.
std::vector<std::string> PathAndAncestors(const std::string& path);

}  // namespace zw::win32
