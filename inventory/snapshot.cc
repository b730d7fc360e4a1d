// The process snapshot: the performance data's process object, turned into
// the slots of the process table.
#include <algorithm>
#include <memory>
#include <new>
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
// Names are cut to a slot's length before they are widened, so the block is
// bounded by the number of processes: room for 4,194,304 of them (the most
// pids Linux hands out) at 1,000 bytes each, an instance with a name of 255
// characters and all the platform's process counters. A provider that keeps
// asking for more than this is not going to stop.
constexpr std::uint32_t kMaxPerfBufferSize = 4'194'304u * 1'000u;
// Names are converted into a buffer of this size, the terminator included.
constexpr int kNameBufferSize = 260;
// The longest instance name that still leaves room for ".exe".
constexpr std::size_t kMaxInstanceNameLength = 255;

// A buffer for the query, its bytes left as the allocator hands them out: a
// buffer is only read where a query has written, and pages never written are
// never faulted in, however large the buffer had to be made. (A vector would
// visit every byte to construct it, which unoptimised builds really do.)
class PerfBuffer {
 public:
  void Allocate(std::size_t size) {
    bytes_.reset();  // the old block goes before the larger one is asked for
    bytes_.reset(new std::uint8_t[size]);
    size_ = size;
  }
  void Release() {
    bytes_.reset();
    size_ = 0;
  }
  std::uint8_t* data() { return bytes_.get(); }
  std::size_t size() const { return size_; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
};

// Past this size a buffer grows by a quarter a round rather than a step.
constexpr std::uint64_t kSteppedGrowthLimit = 16u << 20;

// The size to try after a round that did not fit: more than `told` (what
// the failed query left in the size variable, which is not defined) or
// `current`, whichever is larger, so that every round asks for more. A step
// at a time up to kSteppedGrowthLimit, which covers every machine seen; a
// quarter more beyond it, so that a provider that keeps asking for more
// reaches kMaxPerfBufferSize in some twenty-five more rounds instead of a
// hundred thousand queries.
std::uint64_t GrownSize(std::uint32_t told, std::size_t current) {
  const std::uint64_t larger = std::max<std::uint64_t>(told, current);
  return larger + (larger < kSteppedGrowthLimit ? kPerfBufferStep : larger / 4);
}

// Queries the process object into `buffer`, starting at `startSize` and
// growing until the data fits. Returns the query's result, or
// kErrorNotEnoughMemory when the data outgrows kMaxPerfBufferSize or memory;
// on 0 `*size` is the number of bytes returned and the buffer's size is the
// one that fitted.
std::int32_t QueryProcessObject(Platform& platform, std::uint32_t startSize, PerfBuffer& buffer,
                                std::uint32_t* size) try {
  buffer.Allocate(startSize);
  *size = startSize;
  std::int32_t result = platform.RegQueryValueExA(
      RegistryKey::kPerformanceData, perf::kProcessObjectValueName, buffer.data(), size);
  while (result == kErrorMoreData) {
    const std::uint64_t grown = GrownSize(*size, buffer.size());
    if (grown > kMaxPerfBufferSize) return kErrorNotEnoughMemory;
    *size = static_cast<std::uint32_t>(grown);
    // A fresh block: the bytes of a failed round are never read, so they
    // need neither clearing nor copying.
    buffer.Allocate(*size);
    result = platform.RegQueryValueExA(RegistryKey::kPerformanceData, perf::kProcessObjectValueName,
                                       buffer.data(), size);
  }
  return result;
} catch (const std::bad_alloc&) {
  buffer.Release();
  return kErrorNotEnoughMemory;
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
    slot.start = 0;
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
  PerfBuffer buffer;
  std::uint32_t size = 0;
  // Every failed round is a full collection of the process object by the
  // system, so start where the last check's data fitted.
  const std::uint32_t startSize =
      std::clamp(inventory.perfBufferSize, kPerfBufferStep, kMaxPerfBufferSize);
  const std::int32_t result = QueryProcessObject(platform, startSize, buffer, &size);
  inventory.listError = static_cast<std::uint32_t>(result);
  if (result != kErrorSuccess) {
    Print(out, "RegQueryValueEx failed ErrorCode: %d\n", static_cast<int>(result));
    platform.RegCloseKey(RegistryKey::kPerformanceData);
    return 0;
  }
  inventory.perfBufferSize = static_cast<std::uint32_t>(buffer.size());
  const std::size_t returned = std::min<std::size_t>(size, buffer.size());
  const PerfProcessObject object =
      ParseProcessObject(std::span<const std::uint8_t>(buffer.data(), returned));
  buffer.Release();
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
