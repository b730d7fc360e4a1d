// The security of files as the trust judgement sees it, read from Windows.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zw {

/// The DACL of file or directory `objectName`, inherit-only entries left
/// out and each trustee classified. kErrorSuccess, or the Win32 error of
/// GetNamedSecurityInfoA.
std::uint32_t ReadFileSecurity(const char* objectName, SecurityInfo* info);

}  // namespace zw
