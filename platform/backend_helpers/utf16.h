// UTF-8 <-> UTF-16 for backends whose native strings are bytes. Bytes that
// are not valid UTF-8 travel as the lone surrogates U+DC80..U+DCFF and come
// back unchanged, so a process name is never altered by the round trip.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zw {

std::u16string Utf8ToUtf16(std::string_view bytes);

/// nullopt when `text` holds a lone surrogate other than an escaped byte.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

/// WideCharToMultiByte with UTF-8 as the multibyte form: converts
/// `wideLength` units (-1: up to and including the terminator) into `out`.
/// `outSize` 0 asks for the size needed. Returns the bytes written, 0 on
/// failure with the Win32 error code in `*error`.
int WideCharToUtf8(const char16_t* wide, int wideLength, char* out, int outSize,
                   std::uint32_t* error);

}  // namespace zw
