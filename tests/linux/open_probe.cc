// Run by the backend tests as another user: asks the native platform to
// open each process named on the command line and says what came of it.
//
//   zw_open_probe ITEM...
//
// ITEM is a pid, "self" (this process), or "snapshot" (take a process
// snapshot, so that the pids after it are answered from it). One line per
// pid: "<item> opened" or "<item> failed <error>".
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr std::uint32_t kQueryAccess = zw::kProcessQueryInformation | zw::kProcessVmRead;

void TakeSnapshot(zw::Platform& platform) {
  std::vector<std::uint8_t> buffer(40960);
  auto size = static_cast<std::uint32_t>(buffer.size());
  while (platform.RegQueryValueExA(zw::RegistryKey::kPerformanceData, "230", buffer.data(),
                                   &size) == zw::kErrorMoreData) {
    buffer.resize(std::max<std::size_t>(size, buffer.size() + 40960));
    size = static_cast<std::uint32_t>(buffer.size());
  }
  platform.RegCloseKey(zw::RegistryKey::kPerformanceData);
}

void Probe(zw::Platform& platform, std::string_view item) {
  const std::uint32_t pid =
      item == "self" ? platform.GetCurrentProcessId()
                     : static_cast<std::uint32_t>(std::strtoul(item.data(), nullptr, 10));
  const zw::Handle handle = platform.OpenProcess(kQueryAccess, false, pid);
  if (handle == zw::Handle::kNull) {
    std::printf("%s failed %u\n", item.data(), platform.GetLastError());
    return;
  }
  std::printf("%s opened\n", item.data());
  platform.CloseHandle(handle);
}

}  // namespace

int main(int argc, char** argv) {
  const auto platform = zw::MakeNativePlatform();
  for (int i = 1; i < argc; ++i) {
    const std::string_view item = argv[i];
    if (item == "snapshot") {
      TakeSnapshot(*platform);
    } else {
      Probe(*platform, item);
    }
  }
  return 0;
}
