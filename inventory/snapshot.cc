// The process snapshot: the performance data's process object, turned into
// the slots of the process table.
#include <algorithm>
#include <optional>
#include <string_view>

#include "base/ascii.h"
#include "inventory/inventory.h"
#include "inventory/perf_parse.h"
#include "platform/perf_layout.h"
#include "state/output.h"

namespace zw {
namespace {

constexpr std::uint32_t kPerfBufferStep = 40960;
// Room for some 50,000 processes with all the platform's process counters; a
// provider that keeps asking for more than this is not going to stop.
constexpr std::uint32_t kMaxPerfBufferSize = 16u << 20;
// Names are converted into a buffer of this size, the terminator included.
constexpr int kNameBufferSize = 260;
// The longest instance name that still leaves room for ".exe".
constexpr std::size_t kMaxInstanceNameLength = 255;

// Queries the process object into `buffer`, starting at `startSize` and
// growing until the data fits. Returns the query's result; on 0 `*size` is
// the number of bytes returned and the buffer's size is the one that fitted.
std::int32_t QueryProcessObject(Platform& platform, std::uint32_t startSize,
                                std::vector<std::uint8_t>& buffer, std::uint32_t* size) {
  buffer.assign(startSize, 0);
  *size = startSize;
  std::int32_t result = platform.RegQueryValueExA(
      RegistryKey::kPerformanceData, perf::kProcessObjectValueName, buffer.data(), size);
  while (result == kErrorMoreData) {
    // What a failed query leaves in the size variable is not defined; grow
    // from whichever is larger so every round asks for more.
    const std::uint64_t grown =
        std::uint64_t{std::max<std::uint32_t>(*size, static_cast<std::uint32_t>(buffer.size()))} +
        kPerfBufferStep;
    if (grown > kMaxPerfBufferSize) return kErrorMoreData;
    *size = static_cast<std::uint32_t>(grown);
    // Growing in place: the bytes of a failed round need no clearing, since
    // only what a successful query reports in `*size` is ever read, and a
    // fresh block per round would fault every page of it in again.
    buffer.resize(*size);
    result = platform.RegQueryValueExA(RegistryKey::kPerformanceData, perf::kProcessObjectValueName,
                                       buffer.data(), size);
  }
  return result;
}

// The slot name of an instance: its name in the ANSI code page with ".exe"
// appended, or "unknown" when it cannot be converted or does not fit.
std::string SlotName(Platform& platform, const std::u16string& instanceName) {
  char converted[kNameBufferSize];
  const int bytes =
      platform.WideCharToMultiByte(instanceName.c_str(), -1, converted, kNameBufferSize);
  if (bytes <= 0) return "unknown";
  // The count includes the converted terminator; the text ends at the first.
  const char* end = std::find(converted, converted + std::min(bytes, kNameBufferSize), '\0');
  const std::string_view text(converted, static_cast<std::size_t>(end - converted));
  if (text.size() > kMaxInstanceNameLength) return "unknown";
  return std::string(text) + ".exe";
}

// Rewrites a slot for a new instance. What was measured or captured for
// the slot survives only while it still holds the same process.
void FillSlot(ProcessRecord& slot, std::uint32_t pid, std::string name) {
  const bool sameProcess = slot.pid == pid && EqualIgnoringAsciiCase(slot.name, name);
  if (!sameProcess) {
    slot.runTime = 0;
    slot.creation = 0;
    slot.critical = false;
    slot.window = WindowHandle::kNull;
    slot.title.clear();
    slot.titles.clear();
  }
  slot.pid = pid;
  slot.mark = 0;
  slot.name = std::move(name);
}

}  // namespace

std::uint32_t TakeProcessSnapshot(Platform& platform, Output& out, Inventory& inventory) {
  std::vector<std::uint8_t> buffer;
  std::uint32_t size = 0;
  // Every failed round is a full collection of the process object by the
  // system, so start where the last check's data fitted.
  const std::uint32_t startSize =
      std::clamp(inventory.perfBufferSize, kPerfBufferStep, kMaxPerfBufferSize);
  const std::int32_t result = QueryProcessObject(platform, startSize, buffer, &size);
  if (result != kErrorSuccess) {
    Print(out, "RegQueryValueEx failed ErrorCode: %d\n", static_cast<int>(result));
    platform.RegCloseKey(RegistryKey::kPerformanceData);
    return 0;
  }
  inventory.perfBufferSize = static_cast<std::uint32_t>(buffer.size());
  const std::size_t returned = std::min<std::size_t>(size, buffer.size());
  const PerfProcessObject object =
      ParseProcessObject(std::span<const std::uint8_t>(buffer.data(), returned));
  buffer = {};
  platform.RegCloseKey(RegistryKey::kPerformanceData);

  ProcessTable& table = inventory.processTable;
  table.resize(object.instances.size());
  for (std::size_t k = 0; k < object.instances.size(); ++k) {
    const PerfInstance& instance = object.instances[k];
    FillSlot(table[k], instance.pid == 0 ? kPseudoPid : instance.pid,
             SlotName(platform, instance.name));
  }
  return static_cast<std::uint32_t>(table.size());
}

}  // namespace zw
