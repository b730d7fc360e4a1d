// Builds a performance-data block for the process object in the platform's
// published layout, for backends that have no performance registry of their
// own, so that the snapshot parser is the same code everywhere.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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

/// Writes the same block one instance at a time, for a backend that lists
/// processes as it reads them and keeps no list of its own.
class PerfDataWriter {
 public:
  /// `reserveBytes` of room up front: growing the block instance by
  /// instance would copy it into fresh memory over and over, and room that
  /// is never written costs no memory.
  explicit PerfDataWriter(std::size_t reserveBytes = 0);

  /// Bytes the block needs for `count` instances with names of
  /// `nameLength` UTF-16 units each, the headers included.
  static std::size_t BlockSize(std::size_t count, std::size_t nameLength);

  void Add(std::uint32_t pid, std::u16string_view name);

  /// The finished block; the writer is empty afterwards.
  std::vector<std::uint8_t> Finish();

 private:
  void Start();

  std::vector<std::uint8_t> out_;
  std::uint32_t count_ = 0;
};

}  // namespace zw
