// Who could change what the watch list holds, on Windows: the path the list
// is really read from, with every reparse point (symbolic link, junction) on
// the way resolved, and the links themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/file_dacl.h"

namespace zw::win32 {

/// Platform::JudgeFileTrust for the file `path`: one finding per object
/// whose DACL (read by `read`; a link's own by ReadLinkSecurity) lets others
/// change it. Judged are the file's final path and every folder above it,
/// the final path of every folder of `path` as given with the folders above
/// that (whoever may change a folder holding a link may put another link in
/// its place), and every link of `path` itself (it may be pointed
/// elsewhere). Without links that is `path` and its folders, as written on
/// disk. kErrorSuccess, or the Win32 error of the first object that cannot
/// be opened or read.
std::uint32_t JudgeResolvedPath(const std::string& path, const SecurityReader& read,
                                std::vector<std::string>* findings);

}  // namespace zw::win32
