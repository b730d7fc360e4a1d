// The watch-list reader over any file content, section and key, and the
// parsed profile against it.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/list_format/profile_reader.h"

using zw::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(32);
  const std::string key = input.ConsumeRandomLengthString(32);
  const auto bufferSize = input.ConsumeIntegralInRange<std::uint32_t>(0, 300);
  const std::string text = input.ConsumeRemainingBytesAsString();

  const std::optional<std::string> value = zw::FindProfileValue(text, section, key);
  // The text parsed once answers as the text read line by line.
  const zw::ProfileIndex index(text);
  const std::optional<std::string_view> indexed = index.Find(section, key);
  Require(indexed.has_value() == value.has_value() && (!value || *indexed == *value),
          "parsed profile answers differently");
  if (value) {
    // A value is part of one line, cut at its first NUL; from UTF-16, two
    // bytes become at most three.
    Require(value->size() <= text.size() * 3 / 2, "value longer than the file");
    Require(value->find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
            "value holds a line end or NUL");
    // Written back quoted into a file of its own, it reads the same.
    const std::string written = "[S]\r\nK=\"" + *value + "\"\r\n";
    Require(zw::FindProfileValue(written, "S", "K") == value, "value does not read back");
  }

  // UTF-16 reads the same in either byte order.
  if (zw::IsUtf16Profile(text)) {
    std::string swapped = text;
    for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    Require(zw::DecodeProfileText(swapped) == zw::DecodeProfileText(text),
            "the byte orders read differently");
  }

  // The buffer result is the value (or the default) cut to the buffer.
  std::vector<char> buffer(bufferSize + 1, '\x7f');
  const std::uint32_t copied =
      zw::ReadProfileString(text, section, key, "fallback", buffer.data(), bufferSize);
  if (bufferSize == 0) {
    Require(copied == 0 && buffer[0] == '\x7f', "wrote into an empty buffer");
    return 0;
  }
  Require(copied < bufferSize && buffer[copied] == '\0', "result not terminated in the buffer");
  Require(buffer[bufferSize] == '\x7f', "wrote past the buffer");
  const std::string expected = value.value_or("fallback");
  Require(expected.compare(0, copied, buffer.data(), copied) == 0, "result not the value's start");
  Require(copied == std::min<std::size_t>(expected.size(), bufferSize - 1), "result cut wrongly");
  return 0;
}
