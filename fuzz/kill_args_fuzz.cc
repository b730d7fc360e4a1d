// The kill helper's command line: the input's NUL-separated words are the
// arguments after the program name.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tools/kill/kill_args.h"

using zw::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> arguments;
  for (std::size_t at = 0; at <= bytes.size() && !bytes.empty();) {
    std::size_t end = bytes.find('\0', at);
    if (end == std::string_view::npos) end = bytes.size();
    arguments.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  const zw::KillRequest request = zw::ParseKillArguments(arguments);
  if (!request.Ok()) return 0;
  if (request.help) return 0;
  Require(request.pid != 0, "accepted identifier 0");
  // Beyond it kill(2) would read a group, or every process.
  Require(request.pid <= zw::kMaxTargetPid, "accepted an identifier beyond the largest pid");
  // The identifier accepted reads back from its own decimal form.
  const std::string decimal = std::to_string(request.pid);
  const std::string_view alone[] = {decimal};
  const zw::KillRequest again = zw::ParseKillArguments(alone);
  Require(again.Ok() && again.pid == request.pid, "identifier does not read back");
  return 0;
}
