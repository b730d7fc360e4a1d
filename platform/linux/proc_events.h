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

class ProcEventFeed {
 public:
  /// Room asked for queued events. Each is queued in a buffer of its own of
  /// about 1 KiB: room for some ten thousand processes starting and ending
  /// between two checks. Memory is only taken while events wait.
  static constexpr int kReceiveBuffer = 16 << 20;

  /// `receiveBuffer`: the queue's size once the feed is proved (the proof
  /// itself always has kReceiveBuffer, so that it is not lost to other
  /// processes' events).
  explicit ProcEventFeed(int receiveBuffer = kReceiveBuffer);
  ~ProcEventFeed();
  ProcEventFeed(const ProcEventFeed&) = delete;
  ProcEventFeed& operator=(const ProcEventFeed&) = delete;

  /// Subscribes, then proves the feed: the fork and the exit of a child
  /// started here must arrive, under the pid fork returned, within a bounded
  /// time. False (and the socket closed) without CAP_NET_ADMIN, outside the
  /// initial namespaces, without the connector, or when the proof fails.
  /// Events of the proof and before are discarded: a full listing taken
  /// after this covers them.
  bool Start();

  /// Appends what arrived since the last call, without blocking. False on a
  /// receive overflow (events were lost) or any other doubt; the queue is
  /// emptied all the same, so a full listing taken next covers what was lost.
  bool Drain(std::vector<ProcEvent>* events);

  bool IsOpen() const { return fd_ >= 0; }

 private:
  bool Subscribe();
  bool Prove();
  // Receives one datagram; 0, or the errno (EAGAIN: nothing queued).
  int ReceiveOne(std::vector<ProcEvent>* events, bool* doubt);
  void Close();

  int fd_ = -1;
  int receiveBuffer_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace zw::posix
