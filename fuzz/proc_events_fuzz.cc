// The process events connector's datagrams, and the namespace files read
// before trusting it. The whole input is one datagram; split at its first
// NUL it stands for /proc/self/uid_map and /proc/self/status.
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/linux/proc_events.h"

using zw::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<zw::posix::ProcEvent> events;
  const bool trusted = zw::posix::ParseProcEvents({data, size}, &events);
  // Each event takes at least a netlink header, a connector header and an
  // event header with two ids: 60 bytes.
  Require(events.size() * 60 <= size, "more events than the bytes can hold");
  if (size == 0) Require(trusted && events.empty(), "an empty datagram is no doubt");

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = bytes.find('\0');
  const std::string_view uidMap = bytes.substr(0, nul);
  const std::string_view status = nul == std::string_view::npos ? "" : bytes.substr(nul + 1);
  if (zw::posix::InInitialNamespaces(uidMap, status)) {
    Require(uidMap.find("4294967295") != std::string_view::npos, "a partial uid map trusted");
  }
  return 0;
}
