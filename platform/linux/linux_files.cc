// The Linux backend's files: the current directory, and the watch list as
// a profile file, read through the directory it was first found in, and
// judged by who may change it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/linux_platform.h"
#include "platform/linux/proc_files.h"
#include "platform/linux/trusted_path.h"
#include "platform/list_format/profile_reader.h"

namespace zw {

char LinuxPlatform::PathSeparator() const { return '/'; }

std::uint32_t LinuxPlatform::GetCurrentDirectoryA(std::uint32_t size, char* buffer) {
  std::string cwd(256, '\0');
  while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
    if (errno != ERANGE) {
      lastError_ = posix::ErrnoToWin32(errno);
      return 0;
    }
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(std::strlen(cwd.c_str()));
  // A path is far shorter than 4 GiB; PATH_MAX bounds what getcwd gives.
  const auto needed = static_cast<std::uint32_t>(cwd.size() + 1);
  if (buffer == nullptr || needed > size) return needed;
  std::memcpy(buffer, cwd.c_str(), needed);
  return static_cast<std::uint32_t>(cwd.size());
}

std::uint32_t LinuxPlatform::GetPrivateProfileStringA(const char* section, const char* key,
                                                      const char* defaultValue, char* buffer,
                                                      std::uint32_t size, const char* fileName) {
  if (buffer == nullptr || size == 0) return 0;
  // Listing sections or keys (a null name) is not offered: the default is
  // what such a caller gets.
  if (section == nullptr || key == nullptr) {
    return ReadProfileString(std::nullopt, "", "", defaultValue, buffer, size);
  }
  return ReadProfileString(profiles_.Load(fileName), section, key, defaultValue, buffer, size);
}

std::uint32_t LinuxPlatform::ReadWholeFile(const char* path, std::size_t limit,
                                           std::string* contents) {
  contents->clear();
  int fd = -1;
  if (const int error = profiles_.Open(path, &fd); error != 0) return posix::ErrnoToWin32(error);
  // Only an ordinary file is a file here: a directory or a device in the
  // list's place cannot be read as one.
  struct stat info {};
  int error = ::fstat(fd, &info) != 0 ? errno : S_ISREG(info.st_mode) ? 0 : EACCES;
  // One byte more than the limit tells a file that is too large.
  if (error == 0) error = posix::ReadAll(fd, limit + 1, contents);
  ::close(fd);
  if (error != 0) return posix::ErrnoToWin32(error);
  return contents->size() > limit ? kErrorNotEnoughMemory : kErrorSuccess;
}

// The owner may change the mode bits at will: one other than root or the
// caller counts as much as the group's or the others' write bit. A sticky
// directory counts as well: others still add files to it, and one whose
// name differs from the list's only in case is found before the list, or is
// the list where there is none.
bool LinuxPlatform::WritableByOthers(const char* path, bool* writable) {
  int fd = -1;
  if (const int error = profiles_.Open(path, &fd); error != 0) {
    return Fail(posix::ErrnoToWin32(error));
  }
  struct stat status {};
  const int error = ::fstat(fd, &status) == 0 ? 0 : errno;
  ::close(fd);
  if (error != 0) return Fail(posix::ErrnoToWin32(error));
  *writable = (status.st_uid != 0 && status.st_uid != ::geteuid()) ||
              (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  return true;
}

std::uint32_t LinuxPlatform::JudgeFileTrust(const char* fileName,
                                            std::vector<std::string>* findings) {
  findings->clear();
  bool moved = false;
  const std::optional<std::string> path = profiles_.Resolve(fileName, &moved);
  if (!path) return kErrorFileNotFound;
  std::vector<posix::PathFacts> facts;
  if (const int error = posix::CollectPathFacts(*path, &facts); error != 0) {
    return posix::ErrnoToWin32(error);
  }
  *findings = posix::TrustFindings(facts, static_cast<std::uint32_t>(::geteuid()));
  if (moved) findings->push_back(*path + " is no longer in the directory the run began in");
  return kErrorSuccess;
}

}  // namespace zw
