#include "inventory/perf_parse.h"

#include <optional>

#include "platform/perf_layout.h"

namespace zw {
namespace {

using namespace zw::perf;

// Offsets are computed in 64 bits so that no sum of 32-bit fields wraps.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

  bool Fits(std::uint64_t at, std::uint64_t length) const {
    return at <= data_.size() && length <= data_.size() - at;
  }
  std::optional<std::uint32_t> U32(std::uint64_t at) const {
    if (!Fits(at, 4)) return std::nullopt;
    return Read32(data_.data() + at);
  }
  char16_t U16(std::uint64_t at) const {
    return static_cast<char16_t>(data_[at] | data_[at + 1] << 8);
  }

 private:
  std::span<const std::uint8_t> data_;
};

// CounterOffset of the first counter definition with the "ID Process" title
// index. The definitions follow each other at a fixed stride.
std::optional<std::uint32_t> FindProcessIdOffset(const Reader& r, std::uint64_t object) {
  const auto headerLength = r.U32(object + kObjectHeaderLength);
  const auto numCounters = r.U32(object + kObjectNumCounters);
  if (!headerLength || !numCounters) return std::nullopt;
  for (std::uint64_t i = 0; i < *numCounters; ++i) {
    const std::uint64_t at = object + *headerLength + i * kCounterDefinitionSize;
    if (!r.Fits(at, kCounterDefinitionSize)) return std::nullopt;
    if (*r.U32(at + kCounterNameTitleIndex) == kIdProcessCounterIndex) {
      return r.U32(at + kCounterOffset);
    }
  }
  return std::nullopt;
}

// The zero-terminated UTF-16 name, which must end inside its instance
// definition [instance, end).
std::optional<std::u16string> ReadName(const Reader& r, std::uint64_t instance, std::uint64_t end) {
  const std::uint64_t nameOffset = *r.U32(instance + kInstanceNameOffset);
  std::u16string name;
  for (std::uint64_t at = instance + nameOffset; at + 2 <= end; at += 2) {
    const char16_t unit = r.U16(at);
    if (unit == 0) return name;
    name += unit;
  }
  return std::nullopt;
}

// One instance at `at`; on success `*next` is where the following one starts.
// Every step moves on by at least one instance definition and one counter, so
// a block of n bytes never yields more than n / 28 instances.
std::optional<PerfInstance> ReadInstance(const Reader& r, std::uint64_t at, std::uint32_t pidOffset,
                                         std::uint64_t* next) {
  const auto byteLength = r.U32(at + kInstanceByteLength);
  if (!byteLength || *byteLength < kInstanceSize || !r.Fits(at, *byteLength)) {
    return std::nullopt;
  }
  const std::uint64_t block = at + *byteLength;
  const auto blockLength = r.U32(block + kCounterBlockByteLength);
  if (!blockLength || std::uint64_t{pidOffset} + 4 > *blockLength || !r.Fits(block, *blockLength)) {
    return std::nullopt;
  }
  auto name = ReadName(r, at, block);
  if (!name) return std::nullopt;
  *next = block + *blockLength;
  return PerfInstance{*r.U32(block + pidOffset), std::move(*name)};
}

}  // namespace

PerfProcessObject ParseProcessObject(std::span<const std::uint8_t> data) {
  PerfProcessObject result;
  const Reader r(data);
  const auto object = r.U32(kDataBlockHeaderLength);
  if (!object || !r.Fits(*object, kObjectSize)) return result;
  const auto pidOffset = FindProcessIdOffset(r, *object);
  if (!pidOffset) return result;
  result.hasProcessIdCounter = true;
  const std::uint32_t numInstances = *r.U32(*object + kObjectNumInstances);
  std::uint64_t at = std::uint64_t{*object} + *r.U32(*object + kObjectDefinitionLength);
  for (std::uint32_t k = 0; k < numInstances; ++k) {
    auto instance = ReadInstance(r, at, *pidOffset, &at);
    if (!instance) return result;
    result.instances.push_back(std::move(*instance));
  }
  result.complete = true;
  return result;
}

}  // namespace zw
