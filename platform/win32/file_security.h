// The security of files as the trust judgement sees it, read from Windows.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zw {

/// The DACL of file or directory `objectName`, inherit-only entries left
/// out and each trustee classified. kErrorSuccess, or the Win32 error of
/// GetNamedSecurityInfoA.
std::uint32_t ReadFileSecurity(const char* objectName, SecurityInfo* info);

/// As ReadFileSecurity, but of the reparse point (symbolic link, junction)
/// `linkName` itself rather than of the object it leads to.
std::uint32_t ReadLinkSecurity(const char* linkName, SecurityInfo* info);

}  // namespace zw
