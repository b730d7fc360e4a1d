// Files the tool writes for others to read, and where its standard streams
// lead, on Windows.
#include "platform/win32/file_output.h"

#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace zw::win32 {

std::uint32_t ReplaceFileContents(const char* path, std::string_view contents) {
  // Beside the target, on the same volume, and not named "*.prom", so that a
  // collector reading the folder never takes it for a finished file.
  const std::string temporary =
      std::string(path) + "." + std::to_string(::GetCurrentProcessId()) + ".tmp";
  const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
  DWORD written = 0;
  BOOL ok =
      ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
  ok = ok && written == contents.size() && ::FlushFileBuffers(file);
  DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
  ::CloseHandle(file);
  if (ok &&
      ::MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return kErrorSuccess;
  }
  if (ok) error = ::GetLastError();
  ::DeleteFileA(temporary.c_str());
  return error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error;
}

}  // namespace zw::win32

namespace zw {

// There is no journal: the Event Log is written through its own calls.
bool IsJournalStream(StandardStream) { return false; }

}  // namespace zw
