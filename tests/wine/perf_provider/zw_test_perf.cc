// Test-only performance provider: publishes the processes of the running
// system as the process object (230) with its "ID Process" counter (784), so
// that a Wine prefix answers HKEY_PERFORMANCE_DATA "230" like Windows does.
// Written against the platform's own winperf.h structures; the asserts below
// tie them to the offsets the snapshot parser uses.
//
// Two settings, read from the environment of the process that queries:
//   ZW_TEST_PERF_PADDING=N  N more instances "zwpadNNNNN" with identifier 0
//                           (so nobody opens or ends them), to make the
//                           block as large as on a busy machine;
//   ZW_TEST_PERF_LOG=FILE   one line per collection of the process object
//                           appended to FILE: "more" when the space offered
//                           did not suffice, "fit" when the object was
//                           written, so a test can count the collections a
//                           query costs.
#include <windows.h>
// windows.h first: these two depend on its types.
#include <tlhelp32.h>
#include <winperf.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/perf_layout.h"

namespace {

namespace perf = zw::perf;

static_assert(sizeof(PERF_DATA_BLOCK) == perf::kDataBlockSize);
static_assert(offsetof(PERF_DATA_BLOCK, TotalByteLength) == perf::kDataBlockTotalByteLength);
static_assert(offsetof(PERF_DATA_BLOCK, HeaderLength) == perf::kDataBlockHeaderLength);
static_assert(offsetof(PERF_DATA_BLOCK, NumObjectTypes) == perf::kDataBlockNumObjectTypes);
static_assert(sizeof(PERF_OBJECT_TYPE) == perf::kObjectSize);
static_assert(offsetof(PERF_OBJECT_TYPE, DefinitionLength) == perf::kObjectDefinitionLength);
static_assert(offsetof(PERF_OBJECT_TYPE, HeaderLength) == perf::kObjectHeaderLength);
static_assert(offsetof(PERF_OBJECT_TYPE, ObjectNameTitleIndex) == perf::kObjectNameTitleIndex);
static_assert(offsetof(PERF_OBJECT_TYPE, NumCounters) == perf::kObjectNumCounters);
static_assert(offsetof(PERF_OBJECT_TYPE, NumInstances) == perf::kObjectNumInstances);
static_assert(offsetof(PERF_OBJECT_TYPE, CodePage) == perf::kObjectCodePage);
static_assert(sizeof(PERF_COUNTER_DEFINITION) == perf::kCounterDefinitionSize);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex) ==
              perf::kCounterNameTitleIndex);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterType) == perf::kCounterType);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterSize) == perf::kCounterSize);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterOffset) == perf::kCounterOffset);
static_assert(sizeof(PERF_INSTANCE_DEFINITION) == perf::kInstanceSize);
static_assert(offsetof(PERF_INSTANCE_DEFINITION, NameOffset) == perf::kInstanceNameOffset);
static_assert(offsetof(PERF_INSTANCE_DEFINITION, NameLength) == perf::kInstanceNameLength);
static_assert(PERF_COUNTER_RAWCOUNT == perf::kCounterRawCount);

// "% Processor Time" comes first, as on Windows, so a reader that assumes the
// process identifier at the start of the counter block reads the wrong bytes.
constexpr DWORD kProcessorTimeIndex = 6;
constexpr DWORD kProcessorTimeOffset = 8;
constexpr DWORD kIdProcessOffset = 16;
constexpr DWORD kCounterBlockSize = 24;
constexpr DWORD kNumCounters = 2;

DWORD Align8(std::size_t n) { return static_cast<DWORD>((n + 7) & ~std::size_t{7}); }

struct Instance {
  DWORD pid;
  std::wstring name;
};

// The instance name of a process is its image file name without ".exe".
std::wstring InstanceName(const wchar_t* exeFile) {
  std::wstring name = exeFile;
  constexpr std::size_t kSuffix = 4;
  if (name.size() >= kSuffix && _wcsicmp(name.c_str() + name.size() - kSuffix, L".exe") == 0) {
    name.resize(name.size() - kSuffix);
  }
  return name;
}

// The value of environment variable `name`; empty when it is not set.
std::wstring Setting(const wchar_t* name) {
  wchar_t value[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::wstring(value, length);
}

void AddPadding(std::vector<Instance>& instances) {
  const std::wstring setting = Setting(L"ZW_TEST_PERF_PADDING");
  // Enough for a machine far busier than any; a typo cannot exhaust memory.
  constexpr unsigned long kMaxPadding = 100000;
  const unsigned long count = std::min(std::wcstoul(setting.c_str(), nullptr, 10), kMaxPadding);
  for (unsigned long i = 0; i < count; ++i) {
    wchar_t name[16];
    std::swprintf(name, 16, L"zwpad%05lu", i);
    instances.push_back({0, name});
  }
}

void LogCollection(const char* outcome) {
  const std::wstring path = Setting(L"ZW_TEST_PERF_LOG");
  if (path.empty()) return;
  HANDLE log = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, outcome, static_cast<DWORD>(std::strlen(outcome)), &written, nullptr);
  CloseHandle(log);
}

std::vector<Instance> ListProcesses() {
  std::vector<Instance> instances{{0, L"Idle"}};
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
      if (entry.th32ProcessID != 0) {
        instances.push_back({entry.th32ProcessID, InstanceName(entry.szExeFile)});
      }
    }
    CloseHandle(snapshot);
  }
  AddPadding(instances);
  instances.push_back({0, L"_Total"});
  return instances;
}

DWORD InstanceDefinitionLength(const Instance& instance) {
  return Align8(sizeof(PERF_INSTANCE_DEFINITION) + (instance.name.size() + 1) * sizeof(wchar_t));
}

void WriteHeader(BYTE* at, DWORD totalLength, DWORD numInstances) {
  auto* object = reinterpret_cast<PERF_OBJECT_TYPE*>(at);
  object->TotalByteLength = totalLength;
  object->DefinitionLength =
      sizeof(PERF_OBJECT_TYPE) + kNumCounters * sizeof(PERF_COUNTER_DEFINITION);
  object->HeaderLength = sizeof(PERF_OBJECT_TYPE);
  object->ObjectNameTitleIndex = perf::kProcessObjectIndex;
  object->ObjectHelpTitleIndex = perf::kProcessObjectIndex + 1;
  object->DetailLevel = PERF_DETAIL_NOVICE;
  object->NumCounters = kNumCounters;
  object->DefaultCounter = 0;
  object->NumInstances = static_cast<LONG>(numInstances);
  object->CodePage = 0;  // names are UTF-16
  QueryPerformanceCounter(&object->PerfTime);
  QueryPerformanceFrequency(&object->PerfFreq);

  auto* counters = reinterpret_cast<PERF_COUNTER_DEFINITION*>(at + sizeof(PERF_OBJECT_TYPE));
  counters[0].ByteLength = sizeof(PERF_COUNTER_DEFINITION);
  counters[0].CounterNameTitleIndex = kProcessorTimeIndex;
  counters[0].CounterHelpTitleIndex = kProcessorTimeIndex + 1;
  counters[0].DetailLevel = PERF_DETAIL_NOVICE;
  counters[0].CounterType = PERF_100NSEC_TIMER;
  counters[0].CounterSize = 8;
  counters[0].CounterOffset = kProcessorTimeOffset;
  counters[1].ByteLength = sizeof(PERF_COUNTER_DEFINITION);
  counters[1].CounterNameTitleIndex = perf::kIdProcessCounterIndex;
  counters[1].CounterHelpTitleIndex = perf::kIdProcessHelpIndex;
  counters[1].DetailLevel = PERF_DETAIL_NOVICE;
  counters[1].CounterType = PERF_COUNTER_RAWCOUNT;
  counters[1].CounterSize = sizeof(DWORD);
  counters[1].CounterOffset = kIdProcessOffset;
}

// Writes one instance and its counter block; returns the bytes used.
DWORD WriteInstance(BYTE* at, const Instance& instance) {
  const DWORD definitionLength = InstanceDefinitionLength(instance);
  auto* definition = reinterpret_cast<PERF_INSTANCE_DEFINITION*>(at);
  definition->ByteLength = definitionLength;
  definition->UniqueID = PERF_NO_UNIQUE_ID;
  definition->NameOffset = sizeof(PERF_INSTANCE_DEFINITION);
  definition->NameLength = static_cast<DWORD>((instance.name.size() + 1) * sizeof(wchar_t));
  std::memcpy(at + definition->NameOffset, instance.name.c_str(), definition->NameLength);
  BYTE* block = at + definitionLength;
  reinterpret_cast<PERF_COUNTER_BLOCK*>(block)->ByteLength = kCounterBlockSize;
  std::memcpy(block + kIdProcessOffset, &instance.pid, sizeof(DWORD));
  return definitionLength + kCounterBlockSize;
}

// Whether the value name asks for this provider's one object: "Global", or a
// space-separated list of title indexes that contains 230.
bool Requested(const wchar_t* valueName) {
  if (valueName == nullptr || valueName[0] == L'\0') return true;
  if (_wcsicmp(valueName, L"Global") == 0) return true;
  const std::wstring wanted = std::to_wstring(perf::kProcessObjectIndex);
  std::wstring list = valueName;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(L' ', start);
    if (end == std::wstring::npos) end = list.size();
    if (list.compare(start, end - start, wanted) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Wine's registry assembles the block with the first object placed
// sizeof(PERF_DATA_BLOCK) bytes past HeaderLength, counts TotalByteLength
// from HeaderLength, and offers the provider that many bytes more than the
// buffer has left. Windows puts the first object at HeaderLength. When the
// header in front of `data` shows Wine's placement, it is made to declare
// where the object really starts, so the caller receives the block Windows
// would return, and `*space` is cut to what is really left.
//
// The header is searched backwards in steps of 8 bytes (objects start
// 8-byte aligned); both layouts are recognised at their own distance, so
// the search never passes the start of the caller's buffer.
void RepairHeaderPlacement(BYTE* data, DWORD* space) {
  constexpr std::size_t kBlock = sizeof(PERF_DATA_BLOCK);
  // Header, a computer name of at most MAX_COMPUTERNAME_LENGTH characters,
  // and Wine's misplacement.
  constexpr std::size_t kFarthest =
      2 * kBlock + (MAX_COMPUTERNAME_LENGTH + 1) * sizeof(wchar_t) + 8;
  for (std::size_t distance = kBlock; distance <= kFarthest; distance += 8) {
    auto* header = reinterpret_cast<PERF_DATA_BLOCK*>(data - distance);
    if (std::memcmp(header->Signature, L"PERF", 8) != 0 || header->LittleEndian != 1 ||
        header->NumObjectTypes != 0) {
      continue;
    }
    if (header->HeaderLength == distance) return;  // Windows' layout
    if (header->HeaderLength + kBlock == distance &&
        header->TotalByteLength == header->HeaderLength && *space >= kBlock) {
      header->HeaderLength = static_cast<DWORD>(distance);
      header->TotalByteLength = static_cast<DWORD>(distance);
      *space -= kBlock;
    }
    return;
  }
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI ZwTestPerfOpen(LPWSTR /*deviceNames*/) { return ERROR_SUCCESS; }

__declspec(dllexport) DWORD WINAPI ZwTestPerfClose() { return ERROR_SUCCESS; }

// The provider contract: on success advance *data past the bytes written and
// report their count and the number of objects; when the space does not
// suffice, report nothing and ask for more.
__declspec(dllexport) DWORD WINAPI
    ZwTestPerfCollect(LPWSTR valueName, LPVOID* data, LPDWORD totalBytes, LPDWORD numObjectTypes) {
  if (!Requested(valueName)) {
    *totalBytes = 0;
    *numObjectTypes = 0;
    return ERROR_SUCCESS;
  }
  RepairHeaderPlacement(static_cast<BYTE*>(*data), totalBytes);
  const std::vector<Instance> instances = ListProcesses();
  DWORD needed = sizeof(PERF_OBJECT_TYPE) + kNumCounters * sizeof(PERF_COUNTER_DEFINITION);
  for (const Instance& instance : instances) {
    needed += InstanceDefinitionLength(instance) + kCounterBlockSize;
  }
  if (*totalBytes < needed) {
    *totalBytes = 0;
    *numObjectTypes = 0;
    LogCollection("more\n");
    return ERROR_MORE_DATA;
  }
  BYTE* at = static_cast<BYTE*>(*data);
  std::memset(at, 0, needed);
  WriteHeader(at, needed, static_cast<DWORD>(instances.size()));
  DWORD used = sizeof(PERF_OBJECT_TYPE) + kNumCounters * sizeof(PERF_COUNTER_DEFINITION);
  for (const Instance& instance : instances) {
    used += WriteInstance(at + used, instance);
  }
  *data = at + used;
  *totalBytes = used;
  *numObjectTypes = 1;
  LogCollection("fit\n");
  return ERROR_SUCCESS;
}

}  // extern "C"
