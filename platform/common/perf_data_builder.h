// Builds a performance-data block for the process object in the platform's
// published layout, for backends that have no performance registry of their
// own, so that the snapshot parser is the same code everywhere.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zw {

/// One instance of the process object: the "ID Process" counter and the
/// instance name.
struct PerfProcess {
  std::uint32_t pid = 0;
  std::u16string name;
};

/// A whole PERF_DATA_BLOCK with one PERF_OBJECT_TYPE (title index 230) that
/// carries the "ID Process" counter (784) and one instance per entry of
/// `instances`, in the given order.
std::vector<std::uint8_t> BuildProcessPerfData(std::span<const PerfProcess> instances);

}  // namespace zw
