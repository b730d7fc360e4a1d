#include "inventory/perf_parse.h"

#include <gtest/gtest.h>

#include "platform/backend_helpers/perf_data_builder.h"
#include "platform/perf_layout.h"

namespace zw {
namespace {

using namespace zw::perf;

std::vector<PerfProcess> Sample(std::size_t n) {
  std::vector<PerfProcess> list;
  for (std::size_t i = 0; i < n; ++i) {
    list.push_back({static_cast<std::uint32_t>(1000 + i), u"proc" + std::u16string(i % 7, u'x')});
  }
  return list;
}

std::size_t ObjectAt(const std::vector<std::uint8_t>& b) {
  return Read32(b.data() + kDataBlockHeaderLength);
}
std::size_t FirstInstanceAt(const std::vector<std::uint8_t>& b) {
  return ObjectAt(b) + Read32(b.data() + ObjectAt(b) + kObjectDefinitionLength);
}

TEST(PerfParse, ReadsBackWhatWasBuilt) {
  const auto list = Sample(5000);
  const auto block = BuildProcessPerfData(list);
  const PerfProcessObject object = ParseProcessObject(block);
  EXPECT_TRUE(object.hasProcessIdCounter);
  EXPECT_TRUE(object.complete);
  ASSERT_EQ(object.instances.size(), list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(object.instances[i].pid, list[i].pid);
    EXPECT_EQ(object.instances[i].name, list[i].name);
  }
}

TEST(PerfParse, FindsTheProcessIdCounterAmongOthers) {
  // Three counters; the identifier is the third, at another offset.
  auto block = BuildProcessPerfData(Sample(2));
  const std::size_t object = ObjectAt(block);
  std::vector<std::uint8_t> extra(2 * kCounterDefinitionSize, 0);
  Write32(extra.data() + kCounterNameTitleIndex, 6);
  Write32(extra.data() + kCounterDefinitionSize + kCounterNameTitleIndex, 780);
  block.insert(block.begin() + static_cast<long>(object + kObjectSize), extra.begin(), extra.end());
  Write32(block.data() + object + kObjectNumCounters, 3);
  Write32(block.data() + object + kObjectDefinitionLength,
          Read32(block.data() + object + kObjectDefinitionLength) + 2 * kCounterDefinitionSize);
  const PerfProcessObject parsed = ParseProcessObject(block);
  ASSERT_EQ(parsed.instances.size(), 2u);
  EXPECT_EQ(parsed.instances[1].pid, 1001u);
}

// Each case damages a valid three-instance block; the parser keeps the
// instances before the damage and never reads outside the block.
TEST(PerfParse, MalformedBlocksEndAtTheLastWholeInstance) {
  const auto good = BuildProcessPerfData(Sample(3));
  const std::size_t object = ObjectAt(good);
  const std::size_t first = FirstInstanceAt(good);
  const std::size_t second = first + Read32(good.data() + first) + 16;
  const std::size_t secondBlock = second + Read32(good.data() + second);
  const std::size_t third = secondBlock + Read32(good.data() + secondBlock);
  const std::size_t thirdBlock = third + Read32(good.data() + third);
  ASSERT_EQ(thirdBlock + Read32(good.data() + thirdBlock), good.size());
  const struct {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    std::size_t expected;
    bool hasCounter;
  } cases[] = {
      {"object past the end", kDataBlockHeaderLength, 0xFFFFFFF0u, 0, false},
      {"counters past the end", object + kObjectHeaderLength, 0x7FFFFFFFu, 0, false},
      {"no ID Process counter", object + kObjectSize + kCounterNameTitleIndex, 785, 0, false},
      {"instances past the end", object + kObjectDefinitionLength, 0xFFFFFF00u, 0, true},
      {"second instance too long", second + kInstanceByteLength, 0x7FFFFFFFu, 1, true},
      {"second instance too short", second + kInstanceByteLength, 4, 1, true},
      {"name outside its instance", second + kInstanceNameOffset, 0x1000, 1, true},
      {"counter block empty", secondBlock, 0, 1, true},
      {"counter block past the end", secondBlock, 0x7FFFFFFFu, 1, true},
      {"last counter block one byte past the end", thirdBlock,
       static_cast<std::uint32_t>(good.size() - thirdBlock + 1), 2, true},
      {"identifier outside the counter block", object + kObjectSize + kCounterOffset, 4000, 0,
       true},
      {"no instances counted", object + kObjectNumInstances, 0, 0, true},
      {"more instances counted than present", object + kObjectNumInstances, 0xFFFFFFFFu, 3, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto block = good;
    Write32(block.data() + c.at, c.value);
    const PerfProcessObject parsed = ParseProcessObject(block);
    EXPECT_EQ(parsed.instances.size(), c.expected);
    // Only an object that says it has no instances is read completely here.
    EXPECT_EQ(parsed.complete, c.what == std::string("no instances counted"));
    EXPECT_EQ(parsed.hasProcessIdCounter, c.hasCounter);
  }
}

TEST(PerfParse, CounterWalkStopsAtTheEndOfTheBlock) {
  auto block = BuildProcessPerfData(Sample(2));
  const std::size_t object = ObjectAt(block);
  Write32(block.data() + object + kObjectSize + kCounterNameTitleIndex, 6);
  Write32(block.data() + object + kObjectNumCounters, 0xFFFFFFFFu);
  const PerfProcessObject parsed = ParseProcessObject(block);
  EXPECT_FALSE(parsed.hasProcessIdCounter);
  EXPECT_TRUE(parsed.instances.empty());
}

TEST(PerfParse, NameWithoutTerminatorEndsTheSnapshot) {
  auto block = BuildProcessPerfData(Sample(2));
  const std::size_t first = FirstInstanceAt(block);
  const std::size_t length = Read32(block.data() + first);
  for (std::size_t at = first + kInstanceSize; at < first + length; ++at) block[at] = 'A';
  EXPECT_TRUE(ParseProcessObject(block).instances.empty());
}

// Every prefix of a block is a block that was cut off: the count only grows
// with the length and nothing past the prefix is read (the sanitizers see to
// that, as each prefix is a separate allocation).
TEST(PerfParse, EveryTruncationIsSafe) {
  const auto good = BuildProcessPerfData(Sample(4));
  std::size_t previous = 0;
  for (std::size_t length = 0; length <= good.size(); ++length) {
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(length));
    const std::size_t count = ParseProcessObject(cut).instances.size();
    EXPECT_GE(count, previous);
    previous = count;
  }
  EXPECT_EQ(previous, 4u);
}

}  // namespace
}  // namespace zw
