// The process list a snapshot hands over, taken either in full from /proc
// every time or kept between snapshots and re-read only where the process
// events connector says something changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/backend_helpers/perf_data_builder.h"
#include "platform/linux/proc_events.h"
#include "platform/linux/proc_files.h"

namespace zw::posix {

/// The variable that forces the full listing, and its one value that does.
inline constexpr const char* kListingVariable = "ZEITWACHE_LISTING";
inline constexpr std::string_view kListingFull = "full";

struct ListingOptions {
  bool forceFull = false;
  /// Events worth reading between two snapshots; 0: half the processes of
  /// the latest full listing, at least ProcEventFeed::kMinimumBudget.
  std::size_t eventBudget = 0;
};

/// The events worth reading after a full listing of `processes`. Half the
/// processes: an event costs about a thirtieth of a process read and names
/// at most one process to read again, so reading them all costs at most
/// about half a listing; more means a full listing is cheaper. The minimum
/// is a few milliseconds wherever few processes run.
std::size_t EventBudget(const ListingOptions& options, std::size_t processes);

/// ZEITWACHE_LISTING=full forces the full listing; unset or any other value
/// leaves the choice to what the system offers.
ListingOptions ListingOptionsFromEnvironment();

class ProcessListing : private ProcessSink {
 public:
  ProcessListing(ProcReader& reader, ListingOptions options);
  ~ProcessListing() override;
  ProcessListing(const ProcessListing&) = delete;
  ProcessListing& operator=(const ProcessListing&) = delete;

  /// Writes the block and the facts exactly as ProcReader::ListProcesses
  /// does. The first call decides the way: the event feed when it can be
  /// subscribed to and proved, else the full listing at every call. A
  /// snapshot on the event-fed way costs at most a full listing and the
  /// reading of twice the budget. Returns 0 or an errno.
  int List(PerfDataWriter* block, std::vector<ProcFacts>* facts);

  /// True once the event feed has been proved and is used.
  bool EventFed() const { return mode_ == Mode::kEvents; }
  /// Full listings taken on the event-fed way: the first, and one after
  /// every overflow or doubt.
  std::uint64_t FullListings() const { return fullListings_; }

 private:
  enum class Mode { kUndecided, kFull, kEvents };
  // What the list keeps of a process between snapshots.
  struct Kept {
    ProcFacts facts;
    std::u16string name;
    // Re-read at every snapshot: the name comes from the command line or is
    // a kernel worker's, or the group's leader was seen to end while the
    // process was still listed.
    bool readAlways = false;
    bool recheck = false;
  };
  // A process of a full listing: its name is in listedNames_.
  struct Listed {
    ProcFacts facts;
    std::size_t nameAt = 0;
    std::size_t nameLength = 0;
    bool readAlways = false;
    bool recheck = false;
  };

  void Decide();
  // The full listing at every call from here on.
  void Abandon();
  int ListInFull(PerfDataWriter* block, std::vector<ProcFacts>* facts);
  // Moves the latest full listing into kept_.
  void Keep();
  void ApplyEvents();
  void Reread(std::uint32_t pid, bool recheck);
  void Write(PerfDataWriter* block, std::vector<ProcFacts>* facts) const;
  void Add(std::uint32_t pid, const ProcStat& stat, std::u16string_view name) override;

  ProcReader& reader_;
  ListingOptions options_;
  Mode mode_ = Mode::kUndecided;
  ProcEventFeed feed_;
  int procFd_ = -1;
  // Whether kept_ holds a whole listing that the feed has kept up to date.
  bool current_ = false;
  std::uint64_t fullListings_ = 0;
  std::map<std::uint32_t, Kept> kept_;
  // A full listing is taken into these flat records (a few allocations in
  // all) and moved into kept_ only when a later snapshot needs it: a node
  // and a name each for thousands of processes cost a run of one check
  // about a twentieth of its listing.
  std::vector<Listed> listed_;
  std::u16string listedNames_;
  bool collecting_ = false;
  // Scratch of one snapshot, kept for its memory.
  std::vector<ProcEvent> events_;
  std::vector<std::uint32_t> dirty_;
  std::vector<std::uint32_t> ended_;
  std::vector<std::uint32_t> again_;
  // How a read by Reread went: whether the process is listed, and with
  // which recheck mark.
  bool readFound_ = false;
  bool readRecheck_ = false;
};

}  // namespace zw::posix
