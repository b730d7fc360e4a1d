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

void Print(Output& out, const char* format, ...) {
  char small[256];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(needed) < sizeof small) {
    out.Write(std::string_view(small, static_cast<std::size_t>(needed)));
  } else {
    std::vector<char> large(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    out.Write(std::string_view(large.data(), static_cast<std::size_t>(needed)));
  }
  va_end(again);
}

}  // namespace zw
