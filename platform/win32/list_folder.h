// The folder of the watch list, held open for the whole run, so that the
// list, read by its path at every entry, is read from one folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zw::win32 {

/// Holds the folder of the first file asked for. The handle shares reading
/// and writing but not deletion: while it is open the folder cannot be
/// renamed, deleted or replaced (its path keeps leading to it), and on NTFS
/// neither can a folder above it, since something beneath is open. Files in
/// the folder can still be written, renamed and replaced.
class ListFolder {
 public:
  ListFolder() = default;
  ~ListFolder();
  ListFolder(const ListFolder&) = delete;
  ListFolder& operator=(const ListFolder&) = delete;

  /// At the first call, opens the folder holding `fileName`; later calls
  /// open nothing. kErrorSuccess when that folder is held or `fileName` lies
  /// in another, else the Win32 error of the open (the same at every call).
  std::uint32_t Hold(const char* fileName);

 private:
  bool asked_ = false;
  std::string folder_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace zw::win32
