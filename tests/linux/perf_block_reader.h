// Reads the instances of the process object back out of a performance-data
// block, checking every offset against the block's end, for tests and the
// benchmark of the Linux backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/perf_layout.h"

namespace zw::testing {

struct PerfInstance {
  std::uint32_t pid = 0;
  std::u16string name;
};

// Offset of the "ID Process" counter in each counter block; nullopt when
// the object defines no such counter.
inline std::optional<std::size_t> PidCounterOffset(std::span<const std::uint8_t> object,
                                                   std::size_t definitionLength) {
  using namespace zw::perf;
  const std::uint32_t counters = Read32(&object[kObjectNumCounters]);
  for (std::size_t i = 0; i < counters; ++i) {
    const std::size_t at = kObjectSize + i * kCounterDefinitionSize;
    if (at + kCounterDefinitionSize > definitionLength) return std::nullopt;
    if (Read32(&object[at + kCounterNameTitleIndex]) == kIdProcessCounterIndex) {
      return Read32(&object[at + kCounterOffset]);
    }
  }
  return std::nullopt;
}

// One instance at `*at`, which is moved past its counter block.
inline std::optional<PerfInstance> ReadInstance(std::span<const std::uint8_t> object,
                                                std::size_t* at, std::size_t pidOffset) {
  using namespace zw::perf;
  if (*at + kInstanceSize > object.size()) return std::nullopt;
  const std::uint8_t* instance = &object[*at];
  const std::size_t length = Read32(instance + kInstanceByteLength);
  const std::size_t nameOffset = Read32(instance + kInstanceNameOffset);
  const std::size_t nameBytes = Read32(instance + kInstanceNameLength);
  if (length < kInstanceSize || length > object.size() - *at || nameOffset > length ||
      nameBytes > length - nameOffset || nameBytes < 2 || nameBytes % 2 != 0) {
    return std::nullopt;
  }
  PerfInstance result;
  for (std::size_t i = 0; i + 2 < nameBytes; i += 2) {
    result.name.push_back(
        static_cast<char16_t>(instance[nameOffset + i] | instance[nameOffset + i + 1] << 8));
  }
  const std::size_t block = *at + length;
  if (block + 4 > object.size()) return std::nullopt;
  const std::size_t blockLength = Read32(&object[block]);
  if (blockLength > object.size() - block || pidOffset + 4 > blockLength) {
    return std::nullopt;
  }
  result.pid = Read32(&object[block + pidOffset]);
  *at = block + blockLength;
  return result;
}

/// The instances of the first object of `block`, in order; nullopt when
/// any structure reaches past the block or the pid counter is missing.
inline std::optional<std::vector<PerfInstance>> ReadPerfInstances(
    std::span<const std::uint8_t> block) {
  using namespace zw::perf;
  if (block.size() < kDataBlockSize) return std::nullopt;
  const std::size_t total = Read32(&block[kDataBlockTotalByteLength]);
  const std::size_t header = Read32(&block[kDataBlockHeaderLength]);
  if (total > block.size() || header > total || total - header < kObjectSize ||
      Read32(&block[kDataBlockNumObjectTypes]) < 1) {
    return std::nullopt;
  }
  const std::size_t objectLength = Read32(&block[header + kObjectTotalByteLength]);
  if (objectLength > total - header) return std::nullopt;
  const auto object = block.subspan(header, objectLength);
  const std::size_t definitionLength = Read32(&object[kObjectDefinitionLength]);
  if (definitionLength < kObjectSize || definitionLength > objectLength) {
    return std::nullopt;
  }
  const std::optional<std::size_t> pidOffset = PidCounterOffset(object, definitionLength);
  if (!pidOffset) return std::nullopt;
  std::vector<PerfInstance> instances;
  std::size_t at = definitionLength;
  const std::uint32_t count = Read32(&object[kObjectNumInstances]);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::optional<PerfInstance> instance = ReadInstance(object, &at, *pidOffset);
    if (!instance) return std::nullopt;
    instances.push_back(std::move(*instance));
  }
  return instances;
}

}  // namespace zw::testing
