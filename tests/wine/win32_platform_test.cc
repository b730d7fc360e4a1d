// The Win32 backend against the real system (Windows, or Wine): the
// conventions platform.h promises hold for the API behind each operation.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/file_time.h"
#include "platform/platform.h"

namespace zw {
namespace {

HANDLE ToWin32(Handle handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}

FileTime Now() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return static_cast<FileTime>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

class Win32PlatformTest : public testing::Test {
 protected:
  std::unique_ptr<Platform> platform = MakeNativePlatform();
};

TEST_F(Win32PlatformTest, ReadsTimesOfAnOpenedProcess) {
  const Handle self = platform->OpenProcess(kProcessQueryInformation | kProcessVmRead, false,
                                            platform->GetCurrentProcessId());
  ASSERT_NE(self, Handle::kNull) << "error " << platform->GetLastError();
  FileTime creation = 0, exit = 1, kernel = 0, user = 0;
  ASSERT_TRUE(platform->GetProcessTimes(self, &creation, &exit, &kernel, &user));
  const FileTime now = Now();
  constexpr FileTime kTenMinutes = 600 * kFileTimeTicksPerSecond;
  EXPECT_LE(creation, now);
  EXPECT_GT(creation, now - kTenMinutes);
  EXPECT_EQ(exit, 0u) << "still running";
  EXPECT_TRUE(platform->CloseHandle(self));
}

TEST_F(Win32PlatformTest, OpenProcessOfAMissingProcessFails) {
  EXPECT_EQ(platform->OpenProcess(kProcessQueryInformation, false, 0xFFFFFFFFu), Handle::kNull);
  EXPECT_EQ(platform->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
}

TEST_F(Win32PlatformTest, TimeAgreesWithTheSystemClock) {
  const std::int64_t fromClock =
      static_cast<std::int64_t>(Now() / kFileTimeTicksPerSecond) - kFileTimeUnixEpochSeconds;
  EXPECT_NEAR(static_cast<double>(platform->time()), static_cast<double>(fromClock), 2.0);
}

// The system's calendar conversion and the portable one the other backends
// use must agree field for field, range limit included.
TEST_F(Win32PlatformTest, FileTimeToSystemTimeMatchesPortableConversion) {
  const FileTime cases[] = {
      0,
      1,
      static_cast<FileTime>(kFileTimeUnixEpochSeconds) * kFileTimeTicksPerSecond,
      125'911'584'000'000'000,  // 2000-01-01
      125'963'012'967'890'000,  // 2000-02-29 12:34:56.789
      137'919'572'480'000'000,  // 2038-01-19 03:14:08
      133'500'000'000'000'000,
      0x7FFF'FFFF'FFFF'FFFF,
      0x8000'0000'0000'0000,
      0xFFFF'FFFF'FFFF'FFFF,
  };
  for (const FileTime t : cases) {
    SystemTime system, portable;
    const bool systemOk = platform->FileTimeToSystemTime(t, &system);
    const bool portableOk = FileTimeToCalendar(t, &portable);
    ASSERT_EQ(systemOk, portableOk) << t;
    if (!systemOk) continue;
    EXPECT_EQ(system.year, portable.year) << t;
    EXPECT_EQ(system.month, portable.month) << t;
    EXPECT_EQ(system.dayOfWeek, portable.dayOfWeek) << t;
    EXPECT_EQ(system.day, portable.day) << t;
    EXPECT_EQ(system.hour, portable.hour) << t;
    EXPECT_EQ(system.minute, portable.minute) << t;
    EXPECT_EQ(system.second, portable.second) << t;
    EXPECT_EQ(system.milliseconds, portable.milliseconds) << t;
  }
}

TEST_F(Win32PlatformTest, CreateProcessFindsABareCommandBesideTheCaller) {
  // The probe is built into this test's directory, where the system looks
  // first for a command without a path.
  char commandLine[] = ZW_PROBE_NAME " 0 7";
  StartupInfo startup;
  startup.cb = sizeof(startup);
  startup.flags = STARTF_USESHOWWINDOW;
  startup.showWindow = kSwShow;
  ProcessInformation info;
  ASSERT_TRUE(platform->CreateProcessA(nullptr, commandLine, false, 0, startup, &info))
      << "error " << platform->GetLastError();
  EXPECT_NE(info.processId, 0u);
  EXPECT_NE(info.threadId, 0u);
  ASSERT_EQ(WaitForSingleObject(ToWin32(info.process), 30'000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  ASSERT_TRUE(GetExitCodeProcess(ToWin32(info.process), &exitCode));
  EXPECT_EQ(exitCode, 7u);
  EXPECT_TRUE(platform->CloseHandle(info.thread));
  EXPECT_TRUE(platform->CloseHandle(info.process));
}

TEST_F(Win32PlatformTest, CreateProcessOfAMissingProgramReportsFileNotFound) {
  std::string command = "zw_no_such_program_" + std::to_string(GetCurrentProcessId()) + " 1";
  ProcessInformation info;
  StartupInfo startup;
  EXPECT_FALSE(platform->CreateProcessA(nullptr, command.data(), false, 0, startup, &info));
  EXPECT_EQ(platform->GetLastError(), static_cast<std::uint32_t>(kErrorFileNotFound));
  EXPECT_EQ(info.process, Handle::kNull);
}

TEST_F(Win32PlatformTest, AdjustsThePrivilegeTheWatchdogAsksFor) {
  Handle token = Handle::kNull;
  ASSERT_TRUE(platform->OpenProcessToken(platform->GetCurrentProcess(),
                                         kTokenAdjustPrivileges | kTokenQuery, &token))
      << "error " << platform->GetLastError();
  ASSERT_NE(token, Handle::kNull);
  Luid luid;
  ASSERT_TRUE(platform->LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &luid));
  EXPECT_EQ(luid.lowPart, 20u);  // SE_DEBUG_PRIVILEGE, fixed by the system
  EXPECT_EQ(luid.highPart, 0);
  ASSERT_TRUE(platform->AdjustTokenPrivileges(token, false, luid, kSePrivilegeEnabled));
  const std::uint32_t error = platform->GetLastError();
  EXPECT_TRUE(error == kErrorSuccess || error == kErrorNotAllAssigned) << error;
  EXPECT_TRUE(platform->CloseHandle(token));

  Luid unknown;
  EXPECT_FALSE(platform->LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &unknown));
  EXPECT_EQ(platform->GetLastError(), static_cast<std::uint32_t>(kErrorNoSuchPrivilege));
}

// The folder of the first list read is held until the platform dies: it
// cannot be renamed away under a run (the sharing rule, which Wine keeps as
// well), while its files can still be replaced, and a folder read later is
// left alone.
TEST_F(Win32PlatformTest, HoldsTheFolderOfTheFirstListUntilTheEnd) {
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
  const std::string base = std::string(temp) + "zw-hold-" + std::to_string(GetCurrentProcessId());
  const std::string list = base + "\\list", other = base + "\\other";
  for (const std::string& folder : {base, list, other}) {
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder << " " << GetLastError();
  }
  for (const std::string& folder : {list, other}) {
    std::ofstream(folder + "\\ZEITWACHE.INI") << "[PGM]\r\nPGM001=X\r\n";
  }
  // A run judges the list before it reads an entry.
  std::vector<std::string> findings;
  EXPECT_EQ(platform->JudgeFileTrust((list + "\\ZEITWACHE.INI").c_str(), &findings), kErrorSuccess);
  char value[8] = {};
  EXPECT_EQ(platform->GetPrivateProfileStringA("PGM", "PGM001", "", value, sizeof value,
                                               (other + "\\ZEITWACHE.INI").c_str()),
            1u);
  const auto moves = [](const std::string& from) {
    const std::string to = from + ".moved";
    if (!MoveFileExA(from.c_str(), to.c_str(), 0)) return GetLastError();
    MoveFileExA(to.c_str(), from.c_str(), 0);
    return static_cast<DWORD>(ERROR_SUCCESS);
  };
  EXPECT_EQ(moves(list), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(moves(list + "\\ZEITWACHE.INI"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(moves(other), static_cast<DWORD>(ERROR_SUCCESS));
  platform.reset();
  EXPECT_EQ(moves(list), static_cast<DWORD>(ERROR_SUCCESS));
  for (const std::string& folder : {list, other}) {
    DeleteFileA((folder + "\\ZEITWACHE.INI").c_str());
    RemoveDirectoryA(folder.c_str());
  }
  RemoveDirectoryA(base.c_str());
}

// Top-level windows of this process, created for the test.
class Win32WindowTest : public Win32PlatformTest {
 protected:
  void SetUp() override {
    title = "zw-test-window-" + std::to_string(GetCurrentProcessId());
    window = CreateWindowExA(0, "STATIC", title.c_str(), WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr) << "error " << GetLastError();
  }
  void TearDown() override {
    if (window != nullptr) DestroyWindow(window);
  }
  WindowHandle Ours() const {
    return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(window));
  }

  std::string title;
  HWND window = nullptr;
};

TEST_F(Win32WindowTest, EnumeratesOwnWindowWithOwnerAndTitle) {
  int seen = 0;
  std::uint32_t ownerThread = 0, ownerProcess = 0;
  char text[64] = {};
  int textLength = -1;
  EXPECT_TRUE(platform->EnumWindows([&](WindowHandle w) {
    if (w != Ours()) return true;
    ++seen;
    ownerThread = platform->GetWindowThreadProcessId(w, &ownerProcess);
    textLength = platform->GetWindowTextA(w, text, sizeof(text));
    return true;
  }));
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(ownerThread, GetCurrentThreadId());
  EXPECT_EQ(ownerProcess, GetCurrentProcessId());
  EXPECT_EQ(textLength, static_cast<int>(title.size()));
  EXPECT_EQ(std::string(text), title);

  char cut[5];
  EXPECT_EQ(platform->GetWindowTextA(Ours(), cut, sizeof(cut)), 4);
  EXPECT_EQ(std::string(cut), title.substr(0, 4));
}

TEST_F(Win32WindowTest, StopsWhenTheCallbackSaysSo) {
  int calls = 0;
  platform->EnumWindows([&](WindowHandle) {
    ++calls;
    return false;
  });
  EXPECT_EQ(calls, 1);
}

TEST_F(Win32WindowTest, ExceptionFromTheCallbackReachesTheCaller) {
  int calls = 0;
  EXPECT_THROW(platform->EnumWindows([&](WindowHandle) -> bool {
    ++calls;
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_EQ(calls, 1) << "no callback after the exception";
}

}  // namespace
}  // namespace zw
