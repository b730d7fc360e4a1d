// The list check's findings in the watch list's text alone: sections, keys
// no run reads, entries without a limit, UTF-8 where Windows reads the ANSI
// code page. Pure: bytes and the entries a run read from them in, lines out.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "run/watch_list.h"

namespace zw {

/// The findings in the list file's bytes `text` (UTF-16 decoded first),
/// given the entries a run read from it
/// (entries[i] is entry i + 1; the last one ended the list), one line each
/// without the "Befund: " in front and without a line end. Values are
/// shown cut to 64 bytes.
std::vector<std::string> ListTextFindings(std::string_view text,
                                          std::span<const WatchEntry> entries);

}  // namespace zw
