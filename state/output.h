// Where the tool's messages go. Standard output in the tool; a string in
// tests, so they can compare the exact bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zw {

class Output {
 public:
  virtual ~Output() = default;
  virtual void Write(std::string_view text) = 0;
};

/// Writes to standard output and flushes after every message, so a
/// redirected log is never behind and loses nothing when the tool is stopped.
class StdoutOutput final : public Output {
 public:
  void Write(std::string_view text) override;
};

/// Writes to standard error, flushed after every message like standard
/// output, so that the two interleave in a shared log as they were written.
class StderrOutput final : public Output {
 public:
  void Write(std::string_view text) override;
};

/// Collects everything written, for tests.
class StringOutput final : public Output {
 public:
  void Write(std::string_view text) override { text_.append(text); }
  const std::string& text() const { return text_; }
  void Clear() { text_.clear(); }

 private:
  std::string text_;
};

/// printf into a string of any length: for messages and findings
/// assembled before they are written.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Formatted(const char* format, ...);

/// printf-style message to `out`; any length.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Print(Output& out, const char* format, ...);

/// A pid or code for "%d": the lines show values of 2^31 and above negative.
inline int AsSigned(std::uint32_t value) { return static_cast<int>(value); }

}  // namespace zw
