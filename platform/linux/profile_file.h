// Finding and reading a profile file whose name may differ in letter case
// from the one asked for, as names do not on the platform the watch list
// comes from.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/list_format/profile_reader.h"

namespace zw::posix {

/// A larger profile file is treated as unreadable.
inline constexpr std::size_t kProfileFileLimit = 16 * 1024 * 1024;

/// Among directory entry `names`, the one equal to `wanted` ignoring ASCII
/// case; of several, the first in byte order. nullopt when there is none.
std::optional<std::string> PickCaseInsensitive(std::vector<std::string> names,
                                               std::string_view wanted);

/// What tells one version of a file from another.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const struct stat& info);

/// A file stamped `stamp` may have changed since, unseen, when it was
/// modified or changed within this window before `nowNs` (0 <= age < the
/// window: a coarse file-system clock gives a later write within it the same
/// stamp) or, by the stamps, after `nowNs`: a stamp in the future may stay
/// the same across any number of writes.
inline constexpr std::int64_t kRacyWindowNs = 2'000'000'000;
bool MayChangeUnseen(const FileStamp& stamp, std::int64_t nowNs);

/// The profile file parsed once, and again only when its bytes change: a
/// watch list is read for every entry of every check. While its stamps can
/// be trusted they stand for the bytes and nothing is read; otherwise the
/// bytes are read and compared with those parsed.
class ProfileCache {
 public:
  ProfileCache() = default;
  ~ProfileCache();
  ProfileCache(const ProfileCache&) = delete;
  ProfileCache& operator=(const ProfileCache&) = delete;

  /// Opens `fileName` read-only and without blocking (a FIFO cannot hang
  /// the caller) into `*fd`, or its case-insensitive namesake in the same
  /// directory when no file has exactly that name. The directory of the
  /// watch list is opened once, at the first `pin` (Load and Resolve, the
  /// list's own reads, pin), and kept: a directory renamed or replaced
  /// since is never followed. Files of other directories, and every file
  /// before the first pin, are opened by their path, so that another file
  /// read first (the metrics file, say) never takes the list's place.
  /// Returns 0, or the errno (ENOENT when neither exists).
  int Open(const char* fileName, int* fd, bool pin = false);

  /// The path of the file Open would open now (its namesake's where that
  /// is the one), nullopt when there is none. `*moved` is true when the
  /// directory's path no longer leads to the directory Open reads from.
  std::optional<std::string> Resolve(const char* fileName, bool* moved);

  /// How often a file was parsed.
  std::uint64_t Parses() const { return parses_; }

  /// The parsed content of `fileName` (found as Open finds it),
  /// or nullptr when it cannot be read. Valid until the next call.
  const ProfileIndex* Load(const char* fileName, std::size_t limit = kProfileFileLimit);

 private:
  // The descriptor of the directory named `pinName_`, or -1; the first
  // directory asked for with `pin`, once `pinned_`.
  int PinnedDirectory(const std::string& directory, bool pin);

  bool pinned_ = false;
  std::string pinName_;
  int pinFd_ = -1;
  std::string name_;
  FileStamp stamp_;
  // The bytes `index_` was parsed from.
  std::string content_;
  std::uint64_t parses_ = 0;
  std::unique_ptr<ProfileIndex> index_;
};

}  // namespace zw::posix
