// The process events connector: parsing its datagrams, and the netlink
// socket that carries them.
#include "platform/linux/proc_events.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "platform/linux/proc_files.h"

namespace zw::posix {
namespace {

// Offsets of the connector's wire structures, all in host byte order.
constexpr std::size_t kNetlinkHeader = NLMSG_HDRLEN;  // struct nlmsghdr
constexpr std::size_t kConnectorHeader = 20;          // struct cn_msg
constexpr std::size_t kConnectorLenAt = 16;           // cn_msg.len (16 bits)
constexpr std::size_t kEventHeader = 16;              // what, cpu, timestamp
// proc_event.what; newer kernels name an exit with a non-zero status apart.
constexpr std::uint32_t kEventNone = 0x00000000;
constexpr std::uint32_t kEventFork = 0x00000001;
constexpr std::uint32_t kEventExec = 0x00000002;
constexpr std::uint32_t kEventUid = 0x00000004;
constexpr std::uint32_t kEventGid = 0x00000040;
constexpr std::uint32_t kEventSid = 0x00000080;
constexpr std::uint32_t kEventPtrace = 0x00000100;
constexpr std::uint32_t kEventComm = 0x00000200;
constexpr std::uint32_t kEventNonzeroExit = 0x20000000;
constexpr std::uint32_t kEventCoredump = 0x40000000;
constexpr std::uint32_t kEventExit = 0x80000000;
constexpr int kCapNetAdmin = 12;
// Each attempt subscribes afresh, so an overflow in one does not carry over.
constexpr int kProofAttempts = 3;
// What the kernel charges the queue for one event (832 bytes on x86-64),
// rounded up.
constexpr std::size_t kQueuedEventBytes = 1024;
// Datagrams taken per receive call (one call each costs four times as
// much), and the room for each: an event is 76 bytes, and a datagram cut
// short is a doubt.
constexpr std::size_t kBatch = 32;
constexpr std::size_t kSlot = 256;

std::uint32_t Load32(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

std::uint16_t Load16(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint16_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

// One proc_event of `event.size()` bytes. False when it is cut short or of
// an unknown kind.
bool ParseEvent(std::span<const std::uint8_t> event, std::vector<ProcEvent>* events) {
  if (event.size() < kEventHeader) return false;
  const std::uint32_t what = Load32(event, 0);
  // The acknowledgement of someone's subscription, sent to every listener.
  if (what == kEventNone) return true;
  ProcEvent parsed;
  std::size_t need = kEventHeader + 8;  // process pid and tgid
  switch (what) {
    case kEventFork:
      parsed.kind = ProcEvent::Kind::kFork;
      need = kEventHeader + 16;  // parent pid and tgid, then the child's
      break;
    case kEventExec:
      parsed.kind = ProcEvent::Kind::kExec;
      break;
    case kEventComm:
      parsed.kind = ProcEvent::Kind::kComm;
      break;
    case kEventExit:
    case kEventNonzeroExit:
      parsed.kind = ProcEvent::Kind::kExit;
      break;
    case kEventUid:
    case kEventGid:
    case kEventSid:
    case kEventPtrace:
    case kEventCoredump:
      parsed.kind = ProcEvent::Kind::kOther;
      break;
    default:
      return false;
  }
  if (event.size() < need) return false;
  const std::size_t at = need - 8;
  parsed.pid = Load32(event, at);
  parsed.tgid = Load32(event, at + 4);
  events->push_back(parsed);
  return true;
}

// The connector message in one netlink payload.
bool ParseConnectorMessage(std::span<const std::uint8_t> payload, std::vector<ProcEvent>* events) {
  if (payload.size() < kConnectorHeader) return false;
  const std::size_t length = Load16(payload, kConnectorLenAt);
  if (length > payload.size() - kConnectorHeader) return false;
  // Another connector on the same group is none of our business.
  if (Load32(payload, 0) != CN_IDX_PROC || Load32(payload, 4) != CN_VAL_PROC) return true;
  return ParseEvent(payload.subspan(kConnectorHeader, length), events);
}

bool HoldsCapNetAdmin() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  return (data[kCapNetAdmin / 32].effective & (1u << (kCapNetAdmin % 32))) != 0;
}

// The inode numbers the kernel gives the initial pid and user namespaces
// (PROC_PID_INIT_INO, PROC_USER_INIT_INO): fixed, and read through nsfs,
// which no mount of a /proc of another namespace can change.
constexpr ino_t kInitialPidNamespace = 0xEFFFFFFCu;
constexpr ino_t kInitialUserNamespace = 0xEFFFFFFDu;

ino_t NamespaceInode(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 ? info.st_ino : 0;
}

// Whether this process lives in the initial pid and user namespaces, by
// the namespaces themselves, and in the network namespace of the initial
// pid namespace's init, the one the connector speaks in. A network
// namespace that cannot be compared is left to the proof.
bool InInitialNamespacesByIdentity() {
  if (NamespaceInode("/proc/self/ns/pid") != kInitialPidNamespace ||
      NamespaceInode("/proc/self/ns/user") != kInitialUserNamespace) {
    return false;
  }
  const ino_t own = NamespaceInode("/proc/self/ns/net");
  const ino_t init = NamespaceInode("/proc/1/ns/net");
  return own == 0 || init == 0 || own == init;
}

// The connector reports pids as the initial pid namespace sees them, and
// /proc must be that namespace's for a reported pid to name anything.
bool SeesInitialNamespaces() {
  if (!InInitialNamespacesByIdentity()) return false;
  std::string uidMap;
  std::string status;
  if (ReadFileAt(AT_FDCWD, "/proc/self/uid_map", 4096, &uidMap) != 0) return false;
  if (ReadFileAt(AT_FDCWD, "/proc/self/status", 64 * 1024, &status) != 0) return false;
  char self[16];
  const ssize_t length = ::readlink("/proc/self", self, sizeof self);
  char own[16];
  const char* ownEnd = std::to_chars(own, own + sizeof own, ::getpid()).ptr;
  return InInitialNamespaces(uidMap, status) && length > 0 &&
         std::string_view(self, static_cast<std::size_t>(length)) ==
             std::string_view(own, static_cast<std::size_t>(ownEnd - own));
}

std::string_view NextWord(std::string_view* rest) {
  const std::size_t start = rest->find_first_not_of(" \t\n");
  if (start == std::string_view::npos) {
    *rest = {};
    return {};
  }
  rest->remove_prefix(start);
  const std::size_t end = std::min(rest->find_first_of(" \t\n"), rest->size());
  const std::string_view word = rest->substr(0, end);
  rest->remove_prefix(end);
  return word;
}

}  // namespace

bool ParseProcEvents(std::span<const std::uint8_t> datagram, std::vector<ProcEvent>* events) {
  while (!datagram.empty()) {
    if (datagram.size() < kNetlinkHeader) return false;
    const std::uint32_t length = Load32(datagram, 0);
    const std::uint16_t type = Load16(datagram, 4);
    if (length < kNetlinkHeader || length > datagram.size()) return false;
    if (type == NLMSG_ERROR || type == NLMSG_OVERRUN) return false;
    if (type != NLMSG_NOOP &&
        !ParseConnectorMessage(datagram.subspan(kNetlinkHeader, length - kNetlinkHeader), events)) {
      return false;
    }
    datagram = datagram.subspan(std::min<std::size_t>(NLMSG_ALIGN(length), datagram.size()));
  }
  return true;
}

bool InInitialNamespaces(std::string_view uidMap, std::string_view status) {
  // The initial user namespace maps every uid to itself, in one line.
  std::string_view rest = uidMap;
  if (NextWord(&rest) != "0" || NextWord(&rest) != "0" || NextWord(&rest) != "4294967295") {
    return false;
  }
  if (rest.find_first_not_of(" \t\n") != std::string_view::npos) return false;
  // NSpid holds one pid per namespace level; one means the initial level.
  for (std::string_view lines = status; !lines.empty();) {
    const std::size_t end = std::min(lines.find('\n'), lines.size());
    std::string_view line = lines.substr(0, end);
    lines.remove_prefix(std::min(end + 1, lines.size()));
    if (!line.starts_with("NSpid:")) continue;
    line.remove_prefix(6);
    NextWord(&line);
    return NextWord(&line).empty();
  }
  return true;
}

ProcEventFeed::~ProcEventFeed() { Close(); }

void ProcEventFeed::Close() {
  if (fd_ < 0) return;
  // Unsubscribed explicitly: the kernel counts listeners by these
  // operations, not by open sockets, and makes events while any is counted.
  if (listening_) Send(PROC_CN_MCAST_IGNORE);
  listening_ = false;
  ::close(fd_);
  fd_ = -1;
}

bool ProcEventFeed::Start() {
  if (!HoldsCapNetAdmin() || !SeesInitialNamespaces()) return false;
  for (int attempt = 0; attempt < kProofAttempts; ++attempt) {
    if (Subscribe() && Prove()) return true;
    Close();
  }
  return false;
}

void ProcEventFeed::SetBudget(std::size_t events) {
  budget_ = std::max<std::size_t>(events, 1);
  if (fd_ < 0) return;
  // The kernel doubles the size asked for; beyond the system's limit only
  // with CAP_NET_ADMIN, which is held here.
  const int size =
      static_cast<int>(std::min<std::size_t>(budget_ * kQueuedEventBytes / 2, 1 << 30));
  if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
}

bool ProcEventFeed::Subscribe() {
  fd_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_CONNECTOR);
  if (fd_ < 0) return false;
  SetBudget(budget_);
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = CN_IDX_PROC;
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
  listening_ = Send(PROC_CN_MCAST_LISTEN);
  return listening_;
}

bool ProcEventFeed::Send(std::uint32_t op) {
  // nlmsghdr, cn_msg, then the operation.
  std::uint8_t request[kNetlinkHeader + kConnectorHeader + 4]{};
  const std::uint32_t total = sizeof request;
  const std::uint16_t type = NLMSG_DONE;
  const std::uint32_t ids[2] = {CN_IDX_PROC, CN_VAL_PROC};
  const std::uint16_t opLength = 4;
  std::memcpy(request, &total, 4);
  std::memcpy(request + 4, &type, 2);
  std::memcpy(request + kNetlinkHeader, ids, sizeof ids);
  std::memcpy(request + kNetlinkHeader + kConnectorLenAt, &opLength, 2);
  std::memcpy(request + kNetlinkHeader + kConnectorHeader, &op, 4);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  return ::sendto(fd_, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel),
                  sizeof kernel) == static_cast<ssize_t>(sizeof request);
}

bool ProcEventFeed::Prove() {
  // Renaming this thread to the name it has changes nothing, and the kernel
  // reports it before the call returns, under the ids of the initial pid
  // namespace: no child to start and reap, and hardly anything of other
  // processes queued before it.
  char name[16] = {};
  if (::prctl(PR_GET_NAME, name) != 0 || ::prctl(PR_SET_NAME, name) != 0) return false;
  const auto thread = static_cast<std::uint32_t>(::gettid());
  const auto group = static_cast<std::uint32_t>(::getpid());
  std::vector<ProcEvent> events;
  bool doubt = false;
  // Whatever came before the report is read; never more than the queue
  // holds, so a storm of events costs the proof one queue at most.
  for (std::size_t read = 0; read <= budget_ && !doubt;) {
    events.clear();
    std::size_t received = 0;
    const int error = ReceiveBatch(&events, &received, &doubt);
    if (error != 0 && error != EINTR) return false;
    read += received;
    for (const ProcEvent& event : events) {
      if (event.kind == ProcEvent::Kind::kComm && event.pid == thread && event.tgid == group) {
        return !doubt;
      }
    }
  }
  return false;
}

int ProcEventFeed::ReceiveBatch(std::vector<ProcEvent>* events, std::size_t* received,
                                bool* doubt) {
  if (buffer_.empty()) buffer_.resize(kBatch * kSlot);
  std::array<mmsghdr, kBatch> messages{};
  std::array<iovec, kBatch> slots{};
  std::array<sockaddr_nl, kBatch> from{};
  for (std::size_t i = 0; i < kBatch; ++i) {
    slots[i] = {buffer_.data() + i * kSlot, kSlot};
    messages[i].msg_hdr.msg_name = &from[i];
    messages[i].msg_hdr.msg_namelen = sizeof from[i];
    messages[i].msg_hdr.msg_iov = &slots[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  const int got = ::recvmmsg(fd_, messages.data(), kBatch, 0, nullptr);
  if (got < 0) return errno;
  *received = static_cast<std::size_t>(got);
  for (std::size_t i = 0; i < *received; ++i) {
    // Only the kernel speaks on this socket; anything else is ignored.
    if (from[i].nl_pid != 0) continue;
    const std::span datagram(buffer_.data() + i * kSlot,
                             std::min<std::size_t>(messages[i].msg_len, kSlot));
    if ((messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0 || !ParseProcEvents(datagram, events)) {
      *doubt = true;
    }
  }
  return 0;
}

DrainStep NextDrainStep(std::size_t read, std::size_t budget, int error, bool doubt) {
  // The queue holds about `budget` events: reading more than twice as many
  // means they come in faster than they are read, and a full listing is
  // cheaper. ENOBUFS (events were lost) comes before what is still queued,
  // all of it stale once the full listing is taken.
  if (doubt || read > 2 * budget) return DrainStep::kStartAfresh;
  if (error == 0 || error == EINTR) return DrainStep::kReadOn;
  return error == EAGAIN ? DrainStep::kCaughtUp : DrainStep::kStartAfresh;
}

bool ProcEventFeed::Drain(std::vector<ProcEvent>* events) {
  if (fd_ < 0) return false;
  bool doubt = false;
  for (std::size_t read = 0;;) {
    std::size_t received = 0;
    const int error = ReceiveBatch(events, &received, &doubt);
    read += received;
    switch (NextDrainStep(read, budget_, error, doubt)) {
      case DrainStep::kReadOn:
        continue;
      case DrainStep::kCaughtUp:
        return true;
      case DrainStep::kStartAfresh:
        // The stale queue goes with the socket, unread.
        Close();
        if (!Subscribe()) Close();
        return false;
    }
  }
}

}  // namespace zw::posix
