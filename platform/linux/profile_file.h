// Finding and reading a profile file whose name may differ in letter case
// from the one asked for, as names do not on the platform the watch list
// comes from.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zw::posix {

/// A larger profile file is treated as unreadable.
inline constexpr std::size_t kProfileFileLimit = 16 * 1024 * 1024;

/// Among directory entry `names`, the one equal to `wanted` ignoring ASCII
/// case; of several, the first in byte order. nullopt when there is none.
std::optional<std::string> PickCaseInsensitive(std::vector<std::string> names,
                                               std::string_view wanted);

/// Opens `fileName` read-only and without blocking (a FIFO cannot hang
/// the caller), or its case-insensitive namesake in the same directory when
/// no file has exactly that name. The descriptor, or -1 with errno set
/// (ENOENT when neither exists).
int OpenProfileFile(const char* fileName);

/// Content of profile file `fileName`, or of its case-insensitive namesake in
/// the same directory when no file has exactly that name. nullopt when
/// neither can be read or the file exceeds `limit` bytes.
std::optional<std::string> ReadProfileFile(const char* fileName,
                                           std::size_t limit = kProfileFileLimit);

}  // namespace zw::posix
