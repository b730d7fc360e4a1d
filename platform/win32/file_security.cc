// Reading a file's DACL, each entry's trustee classified for the trust
// judgement in file_dacl.h.
#include "platform/win32/file_security.h"

#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <vector>

namespace zw::win32 {
namespace {

// The trustee a SID names, as far as the trust in a file goes. The owner is
// not judged here: an owner who is another user would show as an ordinary
// user's SID, which tells nothing without a lookup of its groups.
// NT SERVICE\TrustedInstaller, which owns the system's own files.
bool IsTrustedInstaller(PSID sid) {
  PSID installer = nullptr;
  if (!::ConvertStringSidToSidA("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                &installer)) {
    return false;
  }
  const bool same = ::EqualSid(sid, installer) != FALSE;
  ::LocalFree(installer);
  return same;
}

Trustee TrusteeOf(PSID sid, PSID currentUser) {
  if (sid == nullptr) return Trustee::kUnclassified;
  if (::IsWellKnownSid(sid, WinLocalSystemSid)) return Trustee::kSystem;
  if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return Trustee::kAdministrators;
  if (::IsWellKnownSid(sid, WinWorldSid)) return Trustee::kEveryone;
  if (::IsWellKnownSid(sid, WinAuthenticatedUserSid)) return Trustee::kAuthenticatedUsers;
  if (::IsWellKnownSid(sid, WinBuiltinUsersSid)) return Trustee::kUsers;
  if (::IsWellKnownSid(sid, WinBuiltinGuestsSid)) return Trustee::kGuests;
  if (currentUser != nullptr && ::EqualSid(sid, currentUser)) return Trustee::kCurrentUser;
  if (IsTrustedInstaller(sid)) return Trustee::kSystem;
  // An account or group of this machine or its domain (S-1-5-21-...): a
  // user other than the caller, or users of that group.
  const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(sid);
  const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  if (authority != nullptr && std::memcmp(authority, &nt, sizeof nt) == 0 &&
      *::GetSidSubAuthorityCount(sid) > 0 &&
      *::GetSidSubAuthority(sid, 0) == SECURITY_NT_NON_UNIQUE) {
    return Trustee::kOtherUser;
  }
  return Trustee::kUnclassified;
}

// The user the process runs as; empty when the token cannot be read.
std::vector<BYTE> CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    buffer.clear();
  }
  ::CloseHandle(token);
  return buffer;
}

// `dacl` (nullptr: none) as the trust judgement reads it.
void DescribeDacl(const ACL* dacl, SecurityInfo* info) {
  std::vector<BYTE> user = CurrentUserSid();
  const PSID currentUser =
      user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  info->hasDacl = dacl != nullptr;
  info->dacl.clear();
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(const_cast<ACL*>(dacl), i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // Inherit-only entries speak of children only.
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      info->dacl.push_back({true, TrusteeOf(&allowed->SidStart, currentUser), allowed->Mask});
    } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      auto* denied = static_cast<ACCESS_DENIED_ACE*>(ace);
      info->dacl.push_back({false, TrusteeOf(&denied->SidStart, currentUser), denied->Mask});
    }
  }
}

}  // namespace

std::uint32_t ReadFileSecurity(const std::string& objectName, SecurityInfo* info) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetNamedSecurityInfoA(const_cast<char*>(objectName.c_str()), SE_FILE_OBJECT,
                                              DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                              nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return error;
  DescribeDacl(dacl, info);
  ::LocalFree(descriptor);
  return ERROR_SUCCESS;
}

std::uint32_t ReadLinkSecurity(const std::string& linkName, SecurityInfo* info) {
  const HANDLE link = ::CreateFileA(
      linkName.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (link == INVALID_HANDLE_VALUE) return ::GetLastError();
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetSecurityInfo(link, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, &dacl, nullptr, &descriptor);
  ::CloseHandle(link);
  if (error != ERROR_SUCCESS) return error;
  DescribeDacl(dacl, info);
  ::LocalFree(descriptor);
  return ERROR_SUCCESS;
}

}  // namespace zw::win32
