#include "platform/win32/list_folder.h"

#include "base/ascii.h"

namespace zw::win32 {
namespace {

// The folder part of `fileName` ("C:\" for a file at the root); empty when
// it names no folder.
std::string FolderOf(const char* fileName) {
  const std::string name = fileName != nullptr ? fileName : "";
  const std::size_t at = name.find_last_of("\\/");
  if (at == std::string::npos) return {};
  std::string folder = name.substr(0, at);
  if (folder.empty() || folder.back() == ':') folder += '\\';
  return folder;
}

}  // namespace

ListFolder::~ListFolder() {
  if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
}

std::uint32_t ListFolder::Hold(const char* fileName) {
  const std::string folder = FolderOf(fileName);
  if (!asked_ && !folder.empty()) {
    asked_ = true;
    folder_ = folder;
    // Sharing is only checked against handles with access to the content:
    // listing access, so that an open asking for deletion fails while this
    // one lives. Without FILE_SHARE_DELETE nobody can rename the folder.
    handle_ = ::CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) error_ = ::GetLastError();
  }
  return asked_ && EqualIgnoringAsciiCase(folder, folder_) ? error_ : ERROR_SUCCESS;
}

}  // namespace zw::win32
