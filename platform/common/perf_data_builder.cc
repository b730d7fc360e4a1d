#include "platform/common/perf_data_builder.h"

#include "platform/perf_layout.h"

namespace zw {
namespace {

using namespace zw::perf;

// Every structure in the block starts on an 8-byte boundary, as the
// platform's own providers align them.
std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// The counter block holds ByteLength and then the one counter, a DWORD.
constexpr std::size_t kPidOffsetInBlock = 8;
constexpr std::size_t kCounterBlockSize = 16;

void AppendInstance(std::vector<std::uint8_t>& out, const PerfProcess& p) {
  const std::size_t nameBytes = (p.name.size() + 1) * 2;
  const std::size_t definitionLength = Align8(kInstanceSize + nameBytes);
  const std::size_t at = out.size();
  out.resize(at + definitionLength + kCounterBlockSize, 0);
  std::uint8_t* inst = out.data() + at;
  Write32(inst + kInstanceByteLength, static_cast<std::uint32_t>(definitionLength));
  Write32(inst + kInstanceParentObjectInstance, 0);
  Write32(inst + kInstanceUniqueId, 0xFFFFFFFFu);  // PERF_NO_UNIQUE_ID
  Write32(inst + kInstanceNameOffset, static_cast<std::uint32_t>(kInstanceSize));
  Write32(inst + kInstanceNameLength, static_cast<std::uint32_t>(nameBytes));
  for (std::size_t i = 0; i < p.name.size(); ++i) {
    inst[kInstanceSize + 2 * i] = static_cast<std::uint8_t>(p.name[i]);
    inst[kInstanceSize + 2 * i + 1] = static_cast<std::uint8_t>(p.name[i] >> 8);
  }
  std::uint8_t* block = inst + definitionLength;
  Write32(block + kCounterBlockByteLength, static_cast<std::uint32_t>(kCounterBlockSize));
  Write32(block + kPidOffsetInBlock, p.pid);
}

}  // namespace

std::vector<std::uint8_t> BuildProcessPerfData(std::span<const PerfProcess> instances) {
  std::vector<std::uint8_t> out(kDataBlockSize + kObjectSize + kCounterDefinitionSize, 0);
  std::uint8_t* head = out.data();
  const char16_t signature[4] = {u'P', u'E', u'R', u'F'};
  for (int i = 0; i < 4; ++i) head[2 * i] = static_cast<std::uint8_t>(signature[i]);
  Write32(head + kDataBlockLittleEndian, 1);
  Write32(head + kDataBlockVersion, 1);
  Write32(head + kDataBlockRevision, 1);
  Write32(head + kDataBlockHeaderLength, static_cast<std::uint32_t>(kDataBlockSize));
  Write32(head + kDataBlockNumObjectTypes, 1);
  Write32(head + kDataBlockDefaultObject, kProcessObjectIndex);

  std::uint8_t* object = head + kDataBlockSize;
  const std::size_t definitionLength = kObjectSize + kCounterDefinitionSize;
  Write32(object + kObjectDefinitionLength, static_cast<std::uint32_t>(definitionLength));
  Write32(object + kObjectHeaderLength, static_cast<std::uint32_t>(kObjectSize));
  Write32(object + kObjectNameTitleIndex, kProcessObjectIndex);
  Write32(object + kObjectHelpTitleIndex, kProcessObjectIndex + 1);
  Write32(object + kObjectDetailLevel, kDetailNovice);
  Write32(object + kObjectNumCounters, 1);
  Write32(object + kObjectNumInstances, static_cast<std::uint32_t>(instances.size()));

  std::uint8_t* counter = object + kObjectSize;
  Write32(counter + kCounterByteLength, static_cast<std::uint32_t>(kCounterDefinitionSize));
  Write32(counter + kCounterNameTitleIndex, kIdProcessCounterIndex);
  Write32(counter + kCounterHelpTitleIndex, kIdProcessHelpIndex);
  Write32(counter + kCounterDetailLevel, kDetailNovice);
  Write32(counter + kCounterType, kCounterRawCount);
  Write32(counter + kCounterSize, 4);
  Write32(counter + kCounterOffset, static_cast<std::uint32_t>(kPidOffsetInBlock));

  for (const PerfProcess& p : instances) AppendInstance(out, p);

  const auto objectLength = static_cast<std::uint32_t>(out.size() - kDataBlockSize);
  Write32(out.data() + kDataBlockSize + kObjectTotalByteLength, objectLength);
  Write32(out.data() + kDataBlockTotalByteLength, static_cast<std::uint32_t>(out.size()));
  return out;
}

}  // namespace zw
