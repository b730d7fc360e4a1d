#include "platform/win32/list_trust.h"

#include <windows.h>

#include <string_view>
#include <utility>

#include "base/ascii.h"
#include "platform/win32/file_dacl.h"
#include "platform/win32/file_security.h"
#include "platform/win32_errors.h"

namespace zw::win32 {
namespace {

// A link is pointed elsewhere by writing its reparse data, which takes
// write access to its data or its attributes, or replaced by whoever may
// delete it or change its DACL.
constexpr std::uint32_t kLinkAccess = kAnyWriteAccess | FILE_WRITE_ATTRIBUTES;

// One object of the judgement: a file or folder by its final path, or a
// link of the path as given, whose own DACL counts.
struct Judged {
  std::string name;
  std::uint32_t rights;
  bool link;
};

// Each object once, with the rights of every reason it is judged for.
void Add(std::vector<Judged>* objects, std::string name, std::uint32_t rights, bool link) {
  for (Judged& known : *objects) {
    if (known.link == link && EqualIgnoringAsciiCase(known.name, name)) {
      known.rights |= rights;
      return;
    }
  }
  objects->push_back({std::move(name), rights, link});
}

// Opens `name` to ask what it is, a folder as well as a file; a reparse
// point at its end is followed only with `follow` (those on the way always
// are). INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenToAsk(const std::string& name, bool follow) {
  return ::CreateFileA(
      name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

// Whether `object` is a symbolic link or a junction: a reparse point that
// stands for another name. Other reparse points (deduplicated or cloud
// files) are the object itself.
DWORD QueryLink(HANDLE object, bool* link) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof tag)) {
    return ::GetLastError();
  }
  *link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
          IsReparseTagNameSurrogate(tag.ReparseTag);
  return ERROR_SUCCESS;
}

// "\\?\C:\dir" as "C:\dir" and "\\?\UNC\server\share\dir" as
// "\\server\share\dir", the names the list's own path uses. A volume's GUID
// path keeps its prefix: it is rooted at the volume as a UNC path at its
// share.
std::wstring WithoutLongPrefix(std::wstring name) {
  constexpr std::wstring_view kLong = L"\\\\?\\";
  constexpr std::wstring_view kUnc = L"\\\\?\\UNC\\";
  if (name.starts_with(kUnc)) return L"\\\\" + name.substr(kUnc.size());
  if (name.starts_with(kLong) && name.size() > kLong.size() + 1 && name[kLong.size() + 1] == L':') {
    return name.substr(kLong.size());
  }
  return name;
}

// `wide` in the ANSI code page the backend's paths are in. A character the
// code page lacks fails rather than turn into a look-alike, which could name
// another file.
DWORD ToAnsi(const std::wstring& wide, std::string* out) {
  // A UTF-8 code page loses nothing and takes neither flags nor the check.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const check = utf8 ? nullptr : &lossy;
  const int length = static_cast<int>(wide.size());
  const int size =
      ::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, check);
  if (size <= 0) return ::GetLastError();
  out->assign(static_cast<std::size_t>(size), '\0');
  if (::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, out->data(), size, nullptr,
                            check) != size) {
    return ::GetLastError();
  }
  return lossy ? ERROR_NO_UNICODE_TRANSLATION : ERROR_SUCCESS;
}

// The path of the open `object` with every link resolved, its volume named
// as `volume` asks (VOLUME_NAME_DOS or VOLUME_NAME_GUID).
DWORD FinalNameAs(HANDLE object, DWORD volume, std::wstring* name) {
  name->assign(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        object, name->data(), static_cast<DWORD>(name->size()), FILE_NAME_NORMALIZED | volume);
    if (length == 0) return ::GetLastError();
    if (length < name->size()) {
      name->resize(length);
      return ERROR_SUCCESS;
    }
    // Too small: the size needed, with the terminator (Wine: without it).
    name->resize(length + 1);
  }
}

// The final path of `object` as the list's own path would name it: by its
// drive letter, or by the volume's GUID where the volume has none.
DWORD FinalName(HANDLE object, std::string* name) {
  std::wstring wide;
  DWORD error = FinalNameAs(object, VOLUME_NAME_DOS, &wide);
  if (error == ERROR_PATH_NOT_FOUND) error = FinalNameAs(object, VOLUME_NAME_GUID, &wide);
  return error != ERROR_SUCCESS ? error : ToAnsi(WithoutLongPrefix(std::move(wide)), name);
}

// Adds what the object `name` of the path as given (the list itself when
// `file`) depends on: the link it is, if it is one, and its final path
// with every folder above that.
DWORD AddObjectsOf(const std::string& name, bool file, std::vector<Judged>* objects) {
  HANDLE object = OpenToAsk(name, false);
  if (object == INVALID_HANDLE_VALUE) return ::GetLastError();
  bool link = false;
  DWORD error = QueryLink(object, &link);
  if (error == ERROR_SUCCESS && link) {
    Add(objects, name, kLinkAccess, true);
    ::CloseHandle(object);
    object = OpenToAsk(name, true);
    if (object == INVALID_HANDLE_VALUE) return ::GetLastError();
  }
  std::string final;
  if (error == ERROR_SUCCESS) error = FinalName(object, &final);
  ::CloseHandle(object);
  if (error != ERROR_SUCCESS) return error;
  bool first = file;
  for (std::string& each : PathAndAncestors(final)) {
    Add(objects, std::move(each), first ? kAnyWriteAccess : kReplaceAccess, false);
    first = false;
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::uint32_t JudgeResolvedPath(const std::string& path, const SecurityReader& read,
                                std::vector<std::string>* findings) {
  findings->clear();
  std::vector<Judged> objects;
  bool file = true;
  for (const std::string& name : PathAndAncestors(path)) {
    if (const DWORD error = AddObjectsOf(name, file, &objects); error != ERROR_SUCCESS) {
      return error;
    }
    file = false;
  }
  for (const Judged& object : objects) {
    SecurityInfo info;
    const std::uint32_t error =
        object.link ? ReadLinkSecurity(object.name, &info) : read(object.name, &info);
    if (error != kErrorSuccess) {
      findings->clear();
      return error;
    }
    if (!LetsOthersChange(info, object.rights)) continue;
    findings->push_back(object.name + (object.link ? " is a link other users can change"
                                                   : " is writable by other users"));
  }
  return kErrorSuccess;
}

}  // namespace zw::win32
