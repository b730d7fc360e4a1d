// The event-fed process list against a fresh full listing, after churn made
// of every kind of change the feed must catch. Every process signalled here
// was started here.
#include "platform/linux/proc_list.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/linux/linux_fixture.h"

namespace zw::posix {
namespace {

constexpr int kChurn = 2000;
// Other work on the machine (another test's churn among it) may start or
// end a process between the two listings compared; a real difference
// persists, such a race does not outlast this.
constexpr auto kSettle = std::chrono::seconds(30);

void* Linger(void*) {
  for (;;) ::pause();
}
void* RenameAndEnd(void*) { ::usleep(200), ::prctl(PR_SET_NAME, "zw-churn-thread"), ::_exit(0); }

// One short-lived process per kind of change; `i` picks the kind.
void ChurnOne(int i) {
  const std::string name = "zw-churn-" + std::to_string(i % 97);
  switch (i % 4) {
    case 0:
      ::_exit(0);
    case 1:
      ::execl("/bin/true", "true", nullptr);
      ::_exit(0);
    case 2:
      ::prctl(PR_SET_NAME, name.c_str());
      ::_exit(0);
    default: {
      // The leader ends first; its thread renames itself and ends the group.
      pthread_t thread;
      ::pthread_create(&thread, nullptr, RenameAndEnd, nullptr);
      ::syscall(SYS_exit, 0);
    }
  }
}

// Starts a process that stays until killed; `setup` runs in it first.
template <typename Setup>
pid_t Survivor(Setup setup) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    setup();
    for (;;) ::pause();
  }
  return pid;
}

// What the comparison covers of each listed process besides its name.
std::vector<std::pair<std::uint32_t, std::uint64_t>> PidsAndStarts(
    const std::vector<ProcFacts>& facts) {
  std::vector<std::pair<std::uint32_t, std::uint64_t>> out;
  for (const ProcFacts& f : facts) out.emplace_back(f.pid, f.startTicks);
  return out;
}

class ProcListTest : public testing::LinuxPlatformTest {
 protected:
  // The instances only one of two blocks holds, for the failure message.
  static std::string Difference(const std::vector<std::uint8_t>& a,
                                const std::vector<std::uint8_t>& b) {
    const auto left = testing::ReadPerfInstances(a), right = testing::ReadPerfInstances(b);
    std::string text;
    for (const auto& [from, to, side] :
         {std::tuple(&left, &right, " fed"), {&right, &left, " full"}}) {
      for (const testing::PerfInstance& i : **from) {
        const testing::PerfInstance* other = Find(**to, i.pid);
        if (other == nullptr || other->name != i.name) {
          text += std::string(side) + " " + std::to_string(i.pid) + "=" +
                  std::string(i.name.begin(), i.name.end());
        }
      }
    }
    return text;
  }

  // Churns while `listing` is fed, with a list taken every 500 processes,
  // then compares it with a fresh full listing.
  void ChurnAndCompare(ProcessListing* listing) {
    PerfDataWriter block;
    std::vector<ProcFacts> facts;
    ASSERT_EQ(listing->List(&block, &facts), 0);
    if (!listing->EventFed()) GTEST_SKIP() << "no process events: needs root and the connector";
    const std::string sleeper = CopySleep("zw-exec-target");
    int rewrite[2];
    ASSERT_EQ(::pipe(rewrite), 0);
    testing::Children survivors;
    for (const pid_t pid :
         {Survivor([&] { ::execl(sleeper.c_str(), "zw-exec-target", "60", nullptr); }),
          Survivor([] { ::prctl(PR_SET_NAME, "zw-renamed-proc"); }), Survivor([] {
            pthread_t thread;
            ::pthread_create(&thread, nullptr, Linger, nullptr);
            ::syscall(SYS_exit, 0);
          }),
          // Names from the command line change without an event: the 15
          // characters of comm start the new first word of the command line.
          Survivor([&] {
            ::prctl(PR_SET_NAME, "zw-fifteen-char");
            char go = 0;
            while (::read(rewrite[0], &go, 1) < 0 && errno == EINTR) {
            }
            std::strcpy(program_invocation_name, "zw-fifteen-chars-rewritten");
          })}) {
      survivors.Add(pid);
    }
    for (int i = 0; i < kChurn; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) ChurnOne(i);
      if (i % 500 == 0) {
        ASSERT_EQ(listing->List(&block, &facts), 0);
      }
      if (pid > 0) ::waitpid(pid, nullptr, 0);
    }
    ASSERT_EQ(listing->List(&block, &facts), 0);
    ASSERT_EQ(::write(rewrite[1], "x", 1), 1);
    const std::string rewritten = "/proc/" + std::to_string(survivors.back()) + "/cmdline";
    ASSERT_TRUE(testing::WaitUntil([&] {
      std::string text;
      ReadFileAt(AT_FDCWD, rewritten.c_str(), 4096, &text);
      return text.starts_with("zw-fifteen-chars-rewritten");
    }));
    ProcReader fresh;
    PerfDataWriter freshBlock;
    std::vector<ProcFacts> freshFacts;
    std::vector<std::uint8_t> fed, full;
    for (const auto deadline = std::chrono::steady_clock::now() + kSettle;;) {
      ASSERT_EQ(listing->List(&block, &facts), 0);
      ASSERT_EQ(fresh.ListProcesses(&freshBlock, &freshFacts), 0);
      fed = block.Finish();
      full = freshBlock.Finish();
      if (fed == full && PidsAndStarts(facts) == PidsAndStarts(freshFacts)) break;
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(PidsAndStarts(facts), PidsAndStarts(freshFacts));
    EXPECT_TRUE(fed == full) << "the names differ:" << Difference(fed, full);
    const auto instances = testing::ReadPerfInstances(fed);
    ASSERT_TRUE(instances);
    EXPECT_EQ(Find(*instances, static_cast<std::uint32_t>(survivors.back()))->name,
              u"zw-fifteen-chars-rewritten");
    ::close(rewrite[0]);
    ::close(rewrite[1]);
  }
};

TEST_F(ProcListTest, EventFedListEqualsAFullListingAfterChurn) {
  ProcReader reader;
  ProcessListing listing(reader, {});
  ChurnAndCompare(&listing);
  // One full listing, the first: everything after came from events.
  if (listing.EventFed()) {
    EXPECT_EQ(listing.FullListings(), 1u);
  }
}

TEST_F(ProcListTest, OverflowMeansAFullListingAndTheSameResult) {
  ProcReader reader;
  // The kernel raises so small a queue to its minimum, a few events.
  ProcessListing listing(reader, {.forceFull = false, .eventBudget = 1});
  ChurnAndCompare(&listing);
  if (IsSkipped()) return;
  // Each overflow subscribed afresh; the feed was not given up.
  EXPECT_TRUE(listing.EventFed());
  EXPECT_GE(listing.FullListings(), 2u);
}

TEST(ProcEvents, ADrainStopsAtAnEmptyQueueOrStartsAfresh) {
  using enum DrainStep;
  const struct {
    std::size_t read;
    int error;
    bool doubt;
    DrainStep step;
  } rows[] = {
      {32, 0, false, kReadOn},           {200, EINTR, false, kReadOn},
      {7, EAGAIN, false, kCaughtUp},     {0, EAGAIN, false, kCaughtUp},
      {0, ENOBUFS, false, kStartAfresh}, {5, 0, true, kStartAfresh},
      {201, 0, false, kStartAfresh},     {201, EAGAIN, false, kStartAfresh},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(NextDrainStep(row.read, 100, row.error, row.doubt), row.step)
        << row.read << " read, errno " << row.error;
  }
  EXPECT_EQ(EventBudget({.eventBudget = 3}, 50000), 3u);
  EXPECT_EQ(EventBudget({}, 50000), 25000u);
  EXPECT_EQ(EventBudget({}, 100), ProcEventFeed::kMinimumBudget);
}

// One netlink message of the connector: header, cn_msg (`idx`), then one
// proc_event of kind `what` with `words` after its 16-byte header.
std::vector<std::uint8_t> Message(std::uint32_t what, std::vector<std::uint32_t> words,
                                  std::uint32_t idx = 1, std::uint16_t type = 3) {
  std::vector<std::uint32_t> event = {what, 0, 0, 0};
  event.insert(event.end(), words.begin(), words.end());
  const auto eventBytes = static_cast<std::uint32_t>(event.size() * 4);
  std::vector<std::uint32_t> all = {16 + 20 + eventBytes, type, 0, 0, idx, 1, 0, 0, eventBytes};
  all.insert(all.end(), event.begin(), event.end());
  std::vector<std::uint8_t> bytes(all.size() * 4);
  std::memcpy(bytes.data(), all.data(), bytes.size());
  return bytes;
}

TEST(ProcEvents, ParsesDatagramsAndDoubtsAnythingOdd) {
  using Kind = ProcEvent::Kind;
  using Events = std::vector<std::tuple<Kind, std::uint32_t, std::uint32_t>>;
  auto two = Message(1, {10, 10, 11, 10});
  const auto exec = Message(2, {12, 12});
  two.insert(two.end(), exec.begin(), exec.end());
  const struct {
    const char* what;
    std::vector<std::uint8_t> datagram;
    bool trusted;
    Events events;
  } rows[] = {
      {"fork (the child's ids), then exec",
       two,
       true,
       {{Kind::kFork, 11, 10}, {Kind::kExec, 12, 12}}},
      {"comm", Message(0x200, {5, 4, 0, 0, 0, 0}), true, {{Kind::kComm, 5, 4}}},
      {"exit", Message(0x80000000, {7, 7, 0, 9}), true, {{Kind::kExit, 7, 7}}},
      {"acknowledgement", Message(0, {0}), true, {}},
      {"another connector", Message(2, {1, 1}, 7), true, {}},
      {"cut short", {exec.begin(), exec.end() - 4}, false, {}},
      {"event too short", Message(0x200, {12}), false, {}},
      {"unknown kind", Message(0x8, {1, 1}), false, {}},
      {"netlink error", Message(2, {1, 1}, 1, 2), false, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<ProcEvent> events;
    EXPECT_EQ(ParseProcEvents(row.datagram, &events), row.trusted);
    Events parsed;
    for (const ProcEvent& e : events) parsed.emplace_back(e.kind, e.pid, e.tgid);
    EXPECT_EQ(parsed, row.trusted ? row.events : parsed);
  }
}

TEST(ProcEvents, OnlyTheInitialNamespacesAreTrusted) {
  const std::string_view initial = "         0          0 4294967295\n";
  EXPECT_TRUE(InInitialNamespaces(initial, "Name:\tx\nNSpid:\t42\n"));
  EXPECT_FALSE(InInitialNamespaces(initial, "NSpid:\t4242\t7\n"));
  EXPECT_FALSE(InInitialNamespaces("0 1000 1\n", "NSpid:\t42\n"));
}

}  // namespace
}  // namespace zw::posix
