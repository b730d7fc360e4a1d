// Who may change a file or directory, judged from its DACL: the one rule of
// trust for the watch list and for the programs the watchdog starts.
#pragma once

#include "platform/platform.h"

namespace zw {

/// Whether `info` lets anybody but the system, the administrators and the
/// caller change the object: a null DACL, or an allowing entry with write
/// access for a broad group or another user that no earlier denying entry
/// for that trustee or for everyone takes away. Unclassified trustees (among
/// them TrustedInstaller) are not judged.
bool WritableByOthers(const SecurityInfo& info);

}  // namespace zw
