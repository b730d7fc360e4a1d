// The Application event log: terminations, failures and refusals under the
// source "ZEITWACHE", whose texts come from the message table linked into
// zeitwache.exe (zeitwache_messages.mc), so the Event Viewer shows them
// once the source is registered with zeitwache.exe as its message file.
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace zw {
namespace {

// The message identifiers windmc gives zeitwache_messages.mc: severity in
// the top two bits, the message number below.
constexpr DWORD kMessageInformation = 0x40000001;
constexpr DWORD kMessageWarning = 0x80000002;
constexpr DWORD kMessageError = 0xC0000003;

class Win32EventLog final : public EventLog {
 public:
  explicit Win32EventLog(HANDLE source) : source_(source) {}
  ~Win32EventLog() override { ::DeregisterEventSource(source_); }
  Win32EventLog(const Win32EventLog&) = delete;
  Win32EventLog& operator=(const Win32EventLog&) = delete;

  void Report(EventType type, std::string_view text) override {
    const std::string line(text);
    const char* strings[] = {line.c_str()};
    WORD kind = EVENTLOG_INFORMATION_TYPE;
    DWORD id = kMessageInformation;
    if (type == EventType::kWarning) {
      kind = EVENTLOG_WARNING_TYPE;
      id = kMessageWarning;
    } else if (type == EventType::kError) {
      kind = EVENTLOG_ERROR_TYPE;
      id = kMessageError;
    }
    ::ReportEventA(source_, kind, 0, id, nullptr, 1, 0, strings, nullptr);
  }

 private:
  HANDLE source_;
};

}  // namespace

std::unique_ptr<EventLog> MakeEventLog() {
  // Succeeds also for a source nobody registered; the entries then lack
  // their texts in the viewer, but the line is still in the entry's data.
  const HANDLE source = ::RegisterEventSourceA(nullptr, "ZEITWACHE");
  if (source == nullptr) return nullptr;
  return std::make_unique<Win32EventLog>(source);
}

}  // namespace zw
