// The security of files as the trust judgement sees it, read from Windows.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/file_dacl.h"

namespace zw::win32 {

/// The DACL of file or directory `objectName`, inherit-only entries left
/// out and each trustee classified. kErrorSuccess, or the Win32 error of
/// GetNamedSecurityInfoA. A SecurityReader.
std::uint32_t ReadFileSecurity(const std::string& objectName, SecurityInfo* info);

/// As ReadFileSecurity, but of the reparse point (symbolic link, junction)
/// `linkName` itself rather than of the object it leads to.
std::uint32_t ReadLinkSecurity(const std::string& linkName, SecurityInfo* info);

}  // namespace zw::win32
