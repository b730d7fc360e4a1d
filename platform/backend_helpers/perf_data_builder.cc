#include "platform/backend_helpers/perf_data_builder.h"

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

std::size_t InstanceSize(std::size_t nameLength) {
  return Align8(kInstanceSize + (nameLength + 1) * 2) + kCounterBlockSize;
}

}  // namespace

std::vector<std::uint8_t> BuildProcessPerfData(std::span<const PerfProcess> instances) {
  std::size_t total = PerfDataWriter::BlockSize(0, 0);
  for (const PerfProcess& p : instances) total += InstanceSize(p.name.size());
  PerfDataWriter writer(total);
  for (const PerfProcess& p : instances) writer.Add(p.pid, p.name);
  return writer.Finish();
}

PerfDataWriter::PerfDataWriter(std::size_t reserveBytes) {
  out_.reserve(reserveBytes);
  Start();
}

std::size_t PerfDataWriter::BlockSize(std::size_t count, std::size_t nameLength) {
  return kDataBlockSize + kObjectSize + kCounterDefinitionSize + count * InstanceSize(nameLength);
}

void PerfDataWriter::Start() {
  out_.assign(kDataBlockSize + kObjectSize + kCounterDefinitionSize, 0);
  count_ = 0;
}

void PerfDataWriter::Add(std::uint32_t pid, std::u16string_view name) {
  const std::size_t nameBytes = (name.size() + 1) * 2;
  const std::size_t definitionLength = Align8(kInstanceSize + nameBytes);
  const std::size_t at = out_.size();
  out_.resize(at + definitionLength + kCounterBlockSize, 0);
  std::uint8_t* inst = out_.data() + at;
  Write32(inst + kInstanceByteLength, static_cast<std::uint32_t>(definitionLength));
  Write32(inst + kInstanceParentObjectInstance, 0);
  Write32(inst + kInstanceUniqueId, 0xFFFFFFFFu);  // PERF_NO_UNIQUE_ID
  Write32(inst + kInstanceNameOffset, static_cast<std::uint32_t>(kInstanceSize));
  Write32(inst + kInstanceNameLength, static_cast<std::uint32_t>(nameBytes));
  for (std::size_t i = 0; i < name.size(); ++i) {
    inst[kInstanceSize + 2 * i] = static_cast<std::uint8_t>(name[i]);
    inst[kInstanceSize + 2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
  }
  std::uint8_t* block = inst + definitionLength;
  Write32(block + kCounterBlockByteLength, static_cast<std::uint32_t>(kCounterBlockSize));
  Write32(block + kPidOffsetInBlock, pid);
  ++count_;
}

std::vector<std::uint8_t> PerfDataWriter::Finish() {
  std::uint8_t* head = out_.data();
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
  Write32(object + kObjectNumInstances, count_);

  std::uint8_t* counter = object + kObjectSize;
  Write32(counter + kCounterByteLength, static_cast<std::uint32_t>(kCounterDefinitionSize));
  Write32(counter + kCounterNameTitleIndex, kIdProcessCounterIndex);
  Write32(counter + kCounterHelpTitleIndex, kIdProcessHelpIndex);
  Write32(counter + kCounterDetailLevel, kDetailNovice);
  Write32(counter + kCounterType, kCounterRawCount);
  Write32(counter + kCounterSize, 4);
  Write32(counter + kCounterOffset, static_cast<std::uint32_t>(kPidOffsetInBlock));

  Write32(object + kObjectTotalByteLength,
          static_cast<std::uint32_t>(out_.size() - kDataBlockSize));
  Write32(head + kDataBlockTotalByteLength, static_cast<std::uint32_t>(out_.size()));
  std::vector<std::uint8_t> block = std::move(out_);
  Start();
  return block;
}

}  // namespace zw
