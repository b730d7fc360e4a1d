// Files the tool writes for others to read, and where its standard streams
// lead, on Windows.
#pragma once

#include <cstdint>
#include <string_view>

namespace zw::win32 {

/// Platform::ReplaceFileContents: a new file beside `path`, flushed, then
/// moved over it with MOVEFILE_REPLACE_EXISTING.
std::uint32_t ReplaceFileContents(const char* path, std::string_view contents);

}  // namespace zw::win32
