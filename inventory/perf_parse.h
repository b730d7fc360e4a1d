// Reads the process object out of a performance-data block. Pure and
// bounds-checked: whatever the block claims, nothing outside `data` is read.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zw {

struct PerfInstance {
  /// The "ID Process" counter; 0 for the idle and summary instances.
  std::uint32_t pid = 0;
  std::u16string name;
};

struct PerfProcessObject {
  /// The object's instances in block order, up to the first one that does
  /// not lie whole inside the block.
  std::vector<PerfInstance> instances;
  /// false when the object has no "ID Process" counter; no instances then.
  bool hasProcessIdCounter = false;
  /// false when the block ended (or was malformed) before NumInstances
  /// instances were read.
  bool complete = false;
};

/// Parses the first object of the block, which the query for value "230"
/// makes the process object.
PerfProcessObject ParseProcessObject(std::span<const std::uint8_t> data);

}  // namespace zw
