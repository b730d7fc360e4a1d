#include "state/output.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zw {

void StdoutOutput::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void StderrOutput::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

namespace {

std::string FormattedV(const char* format, std::va_list args) {
  char small[256];
  std::va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  std::string text;
  if (needed >= 0 && static_cast<std::size_t>(needed) < sizeof small) {
    text.assign(small, static_cast<std::size_t>(needed));
  } else if (needed >= 0) {
    std::vector<char> large(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    text.assign(large.data(), static_cast<std::size_t>(needed));
  }
  va_end(again);
  return text;
}

}  // namespace

std::string Formatted(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = FormattedV(format, args);
  va_end(args);
  return text;
}

void Print(Output& out, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::string text = FormattedV(format, args);
  va_end(args);
  if (!text.empty()) out.Write(text);
}

}  // namespace zw
