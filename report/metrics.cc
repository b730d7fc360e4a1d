#include "report/metrics.h"

#include <charconv>

namespace zw {
namespace {

constexpr std::string_view kEnd = "zeitwache_run_end_timestamp_seconds";
constexpr std::string_view kExitCode = "zeitwache_run_exit_code";
constexpr std::string_view kTerminations = "zeitwache_terminations_total";

// The length of the valid UTF-8 sequence at the start of `text`, 0 when
// there is none (overlong forms, surrogates and values past U+10FFFF
// included).
std::size_t ValidSequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  const unsigned char second = byte(1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
}

void AppendFamily(std::string& out, std::string_view name, std::string_view type,
                  std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void AppendSample(std::string& out, std::string_view name, long long value) {
  out.append(name).append(" ").append(std::to_string(value)).append("\n");
}

std::string EscapeLabel(std::string_view value) {
  std::string escaped;
  for (const char c : value) {
    if (c == '\\' || c == '"') escaped.push_back('\\');
    if (c == '\n') {
      escaped.append("\\n");
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Reads the quoted, escaped value at the start of `*text` and steps past it.
std::optional<std::string> TakeQuoted(std::string_view* text) {
  if (!text->starts_with('"')) return std::nullopt;
  std::string value;
  for (std::size_t i = 1; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return value;
    }
    if (c == '\\') {
      if (++i == text->size()) return std::nullopt;
      value.push_back((*text)[i] == 'n' ? '\n' : (*text)[i]);
    } else {
      value.push_back(c);
    }
  }
  return std::nullopt;
}

// `{entry="...",result="..."} N`, as FormatMetrics writes it.
void ParseCounter(std::string_view rest, MetricsRecord& record) {
  if (!rest.starts_with("{entry=")) return;
  rest.remove_prefix(7);
  const std::optional<std::string> entry = TakeQuoted(&rest);
  if (!entry || !rest.starts_with(",result=")) return;
  rest.remove_prefix(8);
  const std::optional<std::string> result = TakeQuoted(&rest);
  if (!result || !rest.starts_with("} ")) return;
  const auto count = ParseNumber<std::uint64_t>(rest.substr(2));
  if (!count || LabelValue(*entry) != *entry) return;
  for (std::size_t r = 0; r < kResultLabels.size(); ++r) {
    if (*result == kResultLabels[r]) record.terminations[*entry][r] = *count;
  }
}

void ParseLine(std::string_view line, MetricsRecord& record) {
  if (line.starts_with(kTerminations)) {
    ParseCounter(line.substr(kTerminations.size()), record);
  } else if (line.starts_with(kEnd) && line.substr(kEnd.size()).starts_with(' ')) {
    record.endTime = ParseNumber<std::int64_t>(line.substr(kEnd.size() + 1));
  } else if (line.starts_with(kExitCode) && line.substr(kExitCode.size()).starts_with(' ')) {
    record.exitCode = ParseNumber<int>(line.substr(kExitCode.size() + 1));
  }
}

}  // namespace

std::string LabelValue(std::string_view name) {
  std::string value;
  while (!name.empty()) {
    const std::size_t length = ValidSequence(name);
    if (length > 0) {
      value.append(name.substr(0, length));
      name.remove_prefix(length);
      continue;
    }
    const auto byte = static_cast<unsigned char>(name[0]);
    value.push_back(static_cast<char>(0xC0 | byte >> 6));
    value.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    name.remove_prefix(1);
  }
  return value;
}

std::string FormatMetrics(const MetricsRecord& record) {
  std::string out;
  AppendFamily(out, "zeitwache_run_start_timestamp_seconds", "gauge",
               "Start of the run that wrote this file, in seconds since 1970.");
  AppendSample(out, "zeitwache_run_start_timestamp_seconds", record.startTime);
  AppendFamily(out, kEnd, "gauge",
               "End of the last run that finished, in seconds since 1970; below the start "
               "while a run goes on.");
  if (record.endTime) AppendSample(out, kEnd, *record.endTime);
  AppendFamily(out, kExitCode, "gauge", "Exit code of the last run that finished.");
  if (record.exitCode) AppendSample(out, kExitCode, *record.exitCode);
  AppendFamily(out, "zeitwache_processes", "gauge", "Processes in the latest snapshot.");
  AppendSample(out, "zeitwache_processes", record.processes);
  AppendFamily(out, "zeitwache_watch_entries", "gauge",
               "Entries of the watch list, as far as the run has read it.");
  AppendSample(out, "zeitwache_watch_entries", record.watchEntries);
  AppendFamily(out, kTerminations, "counter",
               "Processes the watchdog set out to end, by watch entry and result.");
  for (const auto& [entry, counts] : record.terminations) {
    for (std::size_t r = 0; r < kResultLabels.size(); ++r) {
      out.append(kTerminations).append("{entry=\"").append(EscapeLabel(entry));
      out.append("\",result=\"").append(kResultLabels[r]).append("\"} ");
      out.append(std::to_string(counts[r])).append("\n");
    }
  }
  return out;
}

MetricsRecord ParseMetrics(std::string_view text) {
  MetricsRecord record;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    ParseLine(text.substr(0, end), record);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return record;
}

}  // namespace zw
