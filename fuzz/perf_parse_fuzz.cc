// The performance-data parser over any block.
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "inventory/perf_parse.h"
#include "platform/backend_helpers/perf_data_builder.h"
#include "platform/perf_layout.h"

using zw::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so the sanitizer sees a read past them.
  const std::vector<std::uint8_t> block(data, data + size);
  const zw::PerfProcessObject object = zw::ParseProcessObject(block);
  if (!object.hasProcessIdCounter) Require(object.instances.empty(), "instances without counter");
  // Each instance takes an instance definition and a counter block.
  constexpr std::size_t kSmallestInstance = zw::perf::kInstanceSize + 4;
  Require(object.instances.size() <= size / kSmallestInstance, "more instances than fit");
  std::vector<zw::PerfProcess> processes;
  for (const zw::PerfInstance& instance : object.instances) {
    Require(instance.name.find(u'\0') == std::u16string::npos, "name holds a NUL");
    processes.push_back({instance.pid, instance.name});
  }
  // What was read, built into a block of its own, reads back the same.
  const zw::PerfProcessObject again = zw::ParseProcessObject(zw::BuildProcessPerfData(processes));
  Require(again.complete && again.instances.size() == processes.size(), "rebuilt block incomplete");
  for (std::size_t i = 0; i < processes.size(); ++i) {
    Require(
        again.instances[i].pid == processes[i].pid && again.instances[i].name == processes[i].name,
        "rebuilt instance differs");
  }
  return 0;
}
