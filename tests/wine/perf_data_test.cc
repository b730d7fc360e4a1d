// The process object as the Win32 backend reads it from the performance data
// and the snapshot parser understands it. Needs a provider of object 230:
// Windows has one; a Wine prefix gets the test provider registered by the
// fixture of this test.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "inventory/perf_parse.h"
#include "platform/perf_layout.h"
#include "platform/platform.h"

namespace zw {
namespace {

// Reads the process object the way the watchdog does: grow until it fits.
std::vector<std::uint8_t> ReadProcessObject(Platform& platform) {
  std::vector<std::uint8_t> buffer(256);
  for (int attempt = 0; attempt < 16; ++attempt) {
    auto size = static_cast<std::uint32_t>(buffer.size());
    const std::int32_t result = platform.RegQueryValueExA(
        RegistryKey::kPerformanceData, perf::kProcessObjectValueName, buffer.data(), &size);
    if (result == kErrorSuccess) {
      buffer.resize(size);
      return buffer;
    }
    EXPECT_EQ(result, kErrorMoreData);
    if (result != kErrorMoreData) break;
    buffer.resize(buffer.size() * 2);
  }
  ADD_FAILURE() << "performance data never fitted";
  return {};
}

std::u16string OwnInstanceName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring stem = std::filesystem::path(path).stem().wstring();
  return std::u16string(stem.begin(), stem.end());
}

TEST(PerfProviderTest, ProcessObjectListsThisProcessAndAChild) {
  std::unique_ptr<Platform> platform = MakeNativePlatform();
  char commandLine[] = ZW_PROBE_NAME " 60";
  ProcessInformation child;
  ASSERT_TRUE(platform->CreateProcessA(nullptr, commandLine, false, 0,
                                       StartupInfo{sizeof(StartupInfo), 0, 0}, &child));
  const std::vector<std::uint8_t> data = ReadProcessObject(*platform);
  const PerfProcessObject object = ParseProcessObject(data);
  // Only the process this test started is ended.
  TerminateProcess(reinterpret_cast<HANDLE>(child.process), 0);
  WaitForSingleObject(reinterpret_cast<HANDLE>(child.process), 10'000);
  platform->CloseHandle(child.thread);
  platform->CloseHandle(child.process);
  EXPECT_EQ(platform->RegCloseKey(RegistryKey::kPerformanceData), kErrorSuccess);

  EXPECT_TRUE(object.hasProcessIdCounter);
  EXPECT_TRUE(object.complete);
  const std::vector<PerfInstance>& instances = object.instances;
  ASSERT_GE(instances.size(), 4u);
  EXPECT_EQ(instances.front().name, u"Idle");
  EXPECT_EQ(instances.front().pid, 0u);
  EXPECT_EQ(instances.back().name, u"_Total");
  EXPECT_EQ(instances.back().pid, 0u);
  bool self = false, probe = false;
  for (const PerfInstance& instance : instances) {
    if (instance.pid == GetCurrentProcessId()) {
      self = true;
      EXPECT_EQ(instance.name, OwnInstanceName());
    }
    if (instance.pid == child.processId) {
      probe = true;
      EXPECT_EQ(instance.name, u"" ZW_PROBE_NAME);
    }
  }
  EXPECT_TRUE(self);
  EXPECT_TRUE(probe);
}

TEST(PerfProviderTest, SmallBufferAsksForMore) {
  std::unique_ptr<Platform> platform = MakeNativePlatform();
  std::vector<std::uint8_t> buffer(perf::kDataBlockSize);
  auto size = static_cast<std::uint32_t>(buffer.size());
  EXPECT_EQ(platform->RegQueryValueExA(RegistryKey::kPerformanceData, perf::kProcessObjectValueName,
                                       buffer.data(), &size),
            kErrorMoreData);
  platform->RegCloseKey(RegistryKey::kPerformanceData);
}

}  // namespace
}  // namespace zw
