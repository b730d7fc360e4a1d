// The process list of a snapshot, kept between snapshots on the event-fed
// way. The truth always comes from /proc: an event only names a process to
// read again, and any doubt about the feed means a full listing.
#include "platform/linux/proc_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace zw::posix {
namespace {

// PF_WQ_WORKER: a kernel worker thread, whose name in /proc carries the work
// it is doing at the moment it is read, changed without an event.
constexpr std::uint32_t kWorkqueueWorkerFlag = 0x00000020;

// Names that change without an event, so they are read at every snapshot.
bool NameMayChangeSilently(const ProcStat& stat) {
  return NameFromCommandLine(stat) ||
         (IsKernelThread(stat.flags) && (stat.flags & kWorkqueueWorkerFlag) != 0);
}

}  // namespace

ListingOptions ListingOptionsFromEnvironment() {
  ListingOptions options;
  const char* value = std::getenv(kListingVariable);
  options.forceFull = value != nullptr && std::string_view(value) == kListingFull;
  return options;
}

std::size_t EventBudget(const ListingOptions& options, std::size_t processes) {
  if (options.eventBudget != 0) return options.eventBudget;
  return std::max(ProcEventFeed::kMinimumBudget, processes / 2);
}

ProcessListing::ProcessListing(ProcReader& reader, ListingOptions options)
    : reader_(reader), options_(options) {}

ProcessListing::~ProcessListing() {
  if (procFd_ >= 0) ::close(procFd_);
}

int ProcessListing::List(PerfDataWriter* block, std::vector<ProcFacts>* facts) {
  if (mode_ == Mode::kUndecided) Decide();
  // Before the first listing there is nothing to keep current: what is
  // queued then is read with the next snapshot's events, each naming a
  // process to read again at worst.
  if (mode_ == Mode::kEvents && current_) {
    events_.clear();
    if (feed_.Drain(&events_)) {
      Keep();
      ApplyEvents();
      Write(block, facts);
      return 0;
    }
    if (!feed_.IsOpen()) Abandon();
  }
  if (mode_ == Mode::kFull) return reader_.ListProcesses(block, facts);
  return ListInFull(block, facts);
}

void ProcessListing::Decide() {
  // Subscribed before the first listing, so that no change falls between.
  procFd_ = options_.forceFull ? -1 : ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (procFd_ >= 0 && feed_.Start()) {
    mode_ = Mode::kEvents;
    return;
  }
  Abandon();
}

void ProcessListing::Abandon() {
  mode_ = Mode::kFull;
  if (procFd_ >= 0) ::close(procFd_);
  procFd_ = -1;
  kept_.clear();
  listed_ = {};
  listedNames_ = {};
}

int ProcessListing::ListInFull(PerfDataWriter* block, std::vector<ProcFacts>* facts) {
  ++fullListings_;
  kept_.clear();
  listed_.clear();
  listedNames_.clear();
  readRecheck_ = false;
  collecting_ = true;
  const int error = reader_.ListProcesses(block, facts, this);
  collecting_ = false;
  current_ = error == 0;
  feed_.SetBudget(EventBudget(options_, listed_.size()));
  return error;
}

void ProcessListing::Keep() {
  for (const Listed& listed : listed_) {
    // By rising pid: each goes last.
    kept_.emplace_hint(kept_.end(), listed.facts.pid,
                       Kept{listed.facts, listedNames_.substr(listed.nameAt, listed.nameLength),
                            listed.readAlways, listed.recheck});
  }
  listed_ = {};
  listedNames_ = {};
}

void ProcessListing::ApplyEvents() {
  dirty_.clear();
  ended_.clear();
  for (const ProcEvent& event : events_) {
    if (event.tgid == 0) continue;
    dirty_.push_back(event.tgid);
    // The leader's end: the rest of its group may linger without events.
    if (event.kind == ProcEvent::Kind::kExit && event.pid == event.tgid) {
      ended_.push_back(event.tgid);
    }
  }
  std::sort(dirty_.begin(), dirty_.end());
  dirty_.erase(std::unique(dirty_.begin(), dirty_.end()), dirty_.end());
  std::sort(ended_.begin(), ended_.end());
  again_.clear();
  for (const auto& [pid, kept] : kept_) {
    if ((kept.readAlways || kept.recheck) &&
        !std::binary_search(dirty_.begin(), dirty_.end(), pid)) {
      again_.push_back(pid);
    }
  }
  for (const std::uint32_t pid : dirty_) {
    const auto found = kept_.find(pid);
    const bool recheck = std::binary_search(ended_.begin(), ended_.end(), pid) ||
                         (found != kept_.end() && found->second.recheck);
    Reread(pid, recheck);
  }
  for (const std::uint32_t pid : again_) Reread(pid, kept_.at(pid).recheck);
}

void ProcessListing::Reread(std::uint32_t pid, bool recheck) {
  readFound_ = false;
  readRecheck_ = recheck;
  reader_.ReadProcess(procFd_, pid, this);
  if (!readFound_) kept_.erase(pid);
}

void ProcessListing::Add(std::uint32_t pid, const ProcStat& stat, std::u16string_view name) {
  const bool readAlways = NameMayChangeSilently(stat);
  // A group whose leader has ended (Z, with threads left) ends when its last
  // thread does; the exit event of that thread may come before the group is
  // gone from /proc, and no event follows: read it again until it is.
  const bool recheck = readRecheck_ || stat.state == 'Z';
  readFound_ = true;
  if (collecting_) {
    listed_.push_back({FactsOf(pid, stat), listedNames_.size(), name.size(), readAlways, recheck});
    listedNames_.append(name);
    return;
  }
  Kept& kept = kept_[pid];
  kept.facts = FactsOf(pid, stat);
  kept.name.assign(name);
  kept.readAlways = readAlways;
  kept.recheck = recheck;
}

void ProcessListing::Write(PerfDataWriter* block, std::vector<ProcFacts>* facts) const {
  facts->clear();
  facts->reserve(kept_.size());
  *block = OpenProcessBlock(kept_.size());
  for (const auto& [pid, kept] : kept_) {
    block->Add(pid, kept.name);
    facts->push_back(kept.facts);
  }
  CloseProcessBlock(block);
}

}  // namespace zw::posix
