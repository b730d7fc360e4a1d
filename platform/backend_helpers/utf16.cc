#include "platform/backend_helpers/utf16.h"

#include <cstdint>
#include <cstring>

#include "platform/win32_errors.h"

namespace zw {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 if none.
std::size_t SequenceLength(std::string_view s, char32_t* cp) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  std::size_t len = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, *cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, *cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, *cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    char32_t cp = 0;
    std::size_t len = SequenceLength(bytes, &cp);
    if (len == 0) {
      cp = 0xDC00 + static_cast<unsigned char>(bytes[0]);
      len = 1;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    bytes.remove_prefix(len);
  }
  return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - 0xDC00);
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      return std::nullopt;
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

int WideCharToUtf8(const char16_t* wide, int wideLength, char* out, int outSize,
                   std::uint32_t* error) {
  if (wide == nullptr || wideLength == 0 || wideLength < -1 || outSize < 0) {
    *error = kErrorInvalidParameter;
    return 0;
  }
  std::size_t length = 0;
  if (wideLength == -1) {
    while (wide[length] != 0) ++length;
    ++length;  // the terminator is converted too
  } else {
    length = static_cast<std::size_t>(wideLength);
  }
  const std::optional<std::string> converted = Utf16ToUtf8(std::u16string_view(wide, length));
  if (!converted) {
    *error = kErrorNoUnicodeTranslation;
    return 0;
  }
  if (outSize == 0) return static_cast<int>(converted->size());
  if (converted->size() > static_cast<std::size_t>(outSize)) {
    *error = kErrorInsufficientBuffer;
    return 0;
  }
  std::memcpy(out, converted->data(), converted->size());
  return static_cast<int>(converted->size());
}

}  // namespace zw
