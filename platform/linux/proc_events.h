// The kernel's process events connector (netlink, NETLINK_CONNECTOR,
// CN_IDX_PROC) as a feed of which processes changed: a pure parser of its
// datagrams, and the socket that subscribes, proves and drains it. The feed
// only says where to look; what a process is always comes from /proc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zw::posix {

/// One process event as the connector reports it. For a fork, `pid` and
/// `tgid` are the child's (a new thread has its group's tgid).
struct ProcEvent {
  enum class Kind { kFork, kExec, kComm, kExit, kOther };
  Kind kind = Kind::kOther;
  std::uint32_t pid = 0;
  std::uint32_t tgid = 0;
};

/// Appends the events of one connector datagram (one or more netlink
/// messages) to `*events`. Messages of other connectors and the
/// acknowledgement of a subscription are skipped. Returns false when the
/// datagram is cut short, malformed, reports an error or an overrun, or
/// holds an event of a kind not known here: any of these is a doubt that
/// only a full listing resolves.
bool ParseProcEvents(std::span<const std::uint8_t> datagram, std::vector<ProcEvent>* events);

/// Whether /proc/self/uid_map (`uidMap`) and the NSpid line of
/// /proc/self/status (`status`) place this process in the initial user and
/// pid namespaces, the only ones the connector reports to and for. A
/// missing NSpid line (older kernels) counts as initial; the proof of the
/// feed catches the rest.
bool InInitialNamespaces(std::string_view uidMap, std::string_view status);

/// What a drain does after a receive call: read on, stop with what it has
/// read (the queue is empty), or drop the queue unread and subscribe
/// afresh. `read`: the datagrams read so far; `error`: the call's errno (0
/// when it received some); `doubt`: whether any of them was doubtful.
enum class DrainStep { kReadOn, kCaughtUp, kStartAfresh };
DrainStep NextDrainStep(std::size_t read, std::size_t budget, int error, bool doubt);

class ProcEventFeed {
 public:
  /// The fewest events the queue holds between two snapshots: the churn of
  /// a busy machine (some thousand processes starting and ending) without a
  /// full listing. Reading them costs under 2 ms.
  static constexpr std::size_t kMinimumBudget = 4096;

  ProcEventFeed() = default;
  ~ProcEventFeed();
  ProcEventFeed(const ProcEventFeed&) = delete;
  ProcEventFeed& operator=(const ProcEventFeed&) = delete;

  /// Subscribes, then proves the feed: renaming this thread to its own name
  /// must be reported, under the ids this thread has here, before the
  /// rename returns. False (and the socket closed) without CAP_NET_ADMIN,
  /// outside the initial namespaces, without the connector, or when the
  /// proof fails. What was queued before the proof stays queued: a full
  /// listing taken after this makes it stale but harmless, each event only
  /// naming a process to read again.
  bool Start();

  /// Sizes the queue to hold about `events` events, the most worth reading
  /// between two snapshots; beyond them the kernel drops the rest and the
  /// next Drain says so. Drain reads at most twice as many.
  void SetBudget(std::size_t events);

  /// Appends what arrived since the last call, without blocking. False on a
  /// receive overflow (events were lost), on events arriving faster than
  /// they are read, or on any other doubt: the queue is then dropped
  /// unread with the socket and the feed subscribed afresh, so that a full
  /// listing taken next is followed by its events alone. When that
  /// subscription fails, the feed is closed.
  bool Drain(std::vector<ProcEvent>* events);

  bool IsOpen() const { return fd_ >= 0; }

 private:
  bool Subscribe();
  bool Prove();
  // Receives what is queued, a batch of datagrams at a time: 0 and their
  // number in `*received`, or the errno (EAGAIN: nothing queued).
  int ReceiveBatch(std::vector<ProcEvent>* events, std::size_t* received, bool* doubt);
  // Sends the operation `op` (PROC_CN_MCAST_LISTEN or _IGNORE).
  bool Send(std::uint32_t op);
  void Close();

  int fd_ = -1;
  // Whether the subscription was sent on fd_, and so is to be withdrawn.
  bool listening_ = false;
  std::size_t budget_ = kMinimumBudget;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace zw::posix
