// Byte layout of the platform's published performance-data structures
// (PERF_DATA_BLOCK, PERF_OBJECT_TYPE, PERF_COUNTER_DEFINITION,
// PERF_INSTANCE_DEFINITION, PERF_COUNTER_BLOCK), little-endian, as the
// registry returns them. Offsets rather than structs, so a block can be read
// from or written to any byte buffer without alignment or aliasing concerns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zw::perf {

// PERF_DATA_BLOCK
inline constexpr std::size_t kDataBlockSize = 88;
inline constexpr std::size_t kDataBlockLittleEndian = 8;
inline constexpr std::size_t kDataBlockVersion = 12;
inline constexpr std::size_t kDataBlockRevision = 16;
inline constexpr std::size_t kDataBlockTotalByteLength = 20;
inline constexpr std::size_t kDataBlockHeaderLength = 24;
inline constexpr std::size_t kDataBlockNumObjectTypes = 28;
inline constexpr std::size_t kDataBlockDefaultObject = 32;

// PERF_OBJECT_TYPE
inline constexpr std::size_t kObjectSize = 64;
inline constexpr std::size_t kObjectTotalByteLength = 0;
inline constexpr std::size_t kObjectDefinitionLength = 4;
inline constexpr std::size_t kObjectHeaderLength = 8;
inline constexpr std::size_t kObjectNameTitleIndex = 12;
inline constexpr std::size_t kObjectHelpTitleIndex = 20;
inline constexpr std::size_t kObjectDetailLevel = 28;
inline constexpr std::size_t kObjectNumCounters = 32;
inline constexpr std::size_t kObjectDefaultCounter = 36;
inline constexpr std::size_t kObjectNumInstances = 40;
inline constexpr std::size_t kObjectCodePage = 44;

// PERF_COUNTER_DEFINITION; the definitions follow each other at this fixed
// stride, whatever their own ByteLength says.
inline constexpr std::size_t kCounterDefinitionSize = 40;
inline constexpr std::size_t kCounterByteLength = 0;
inline constexpr std::size_t kCounterNameTitleIndex = 4;
inline constexpr std::size_t kCounterHelpTitleIndex = 12;
inline constexpr std::size_t kCounterDetailLevel = 24;
inline constexpr std::size_t kCounterType = 28;
inline constexpr std::size_t kCounterSize = 32;
inline constexpr std::size_t kCounterOffset = 36;

// PERF_INSTANCE_DEFINITION
inline constexpr std::size_t kInstanceSize = 24;
inline constexpr std::size_t kInstanceByteLength = 0;
inline constexpr std::size_t kInstanceParentObjectTitleIndex = 4;
inline constexpr std::size_t kInstanceParentObjectInstance = 8;
inline constexpr std::size_t kInstanceUniqueId = 12;
inline constexpr std::size_t kInstanceNameOffset = 16;
inline constexpr std::size_t kInstanceNameLength = 20;

// PERF_COUNTER_BLOCK
inline constexpr std::size_t kCounterBlockByteLength = 0;

/// Title index of the process object, and the name of the registry value
/// that returns it.
inline constexpr std::uint32_t kProcessObjectIndex = 230;
inline constexpr const char* kProcessObjectValueName = "230";
/// Title index of the process object's "ID Process" counter.
inline constexpr std::uint32_t kIdProcessCounterIndex = 784;
inline constexpr std::uint32_t kIdProcessHelpIndex = 785;
/// PERF_COUNTER_RAWCOUNT, the type of the "ID Process" counter.
inline constexpr std::uint32_t kCounterRawCount = 0x00010000;
inline constexpr std::uint32_t kDetailNovice = 100;

inline std::uint32_t Read32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

inline void Write32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace zw::perf
