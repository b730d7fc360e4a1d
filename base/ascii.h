// ASCII case folding. Names, keys and switches are compared the way the
// classic C locale does it: only the letters a-z and A-Z change, and every
// byte from 0x80 up stays as it is, whatever code page the text is in.
#pragma once

#include <string>
#include <string_view>

namespace zw {

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

/// Converts a-z to A-Z in place; every other byte stays.
inline void UpperCaseInPlace(std::string& text) {
  for (char& c : text) c = AsciiUpper(c);
}

}  // namespace zw
