// The /proc parsers. The input is what one process publishes: the text up to
// the first NUL stands for /proc/PID/stat (and, tried as such, for status and
// for a directory name), the bytes after it for /proc/PID/cmdline.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/linux/proc_parse.h"

using zw::fuzz::Require;

namespace {

bool Within(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = bytes.find('\0');
  const std::string_view text = bytes.substr(0, nul);
  const std::string_view cmdline = nul == std::string_view::npos ? "" : bytes.substr(nul + 1);

  const auto stat = zw::posix::ParseStat(text);
  if (stat) Require(Within(stat->comm, text), "comm outside the stat line");
  zw::posix::EffectiveCapKill(text);
  if (const auto tgid = zw::posix::StatusTgid(text)) {
    Require(text.find("Tgid:") != std::string_view::npos, "a Tgid from no Tgid line");
  }
  if (const auto pid = zw::posix::ParsePidName(text)) {
    Require(*pid != 0 && std::to_string(*pid) == text, "directory name does not read back");
  }

  const std::string_view comm = stat ? stat->comm : text.substr(0, zw::posix::kCommCutLength);
  const std::string_view program = zw::posix::ProgramName(comm, cmdline);
  const std::string_view instance = zw::posix::InstanceName(comm, cmdline);
  Require(Within(program, comm) || Within(program, cmdline), "name from nowhere");
  Require(program.starts_with(comm), "program name does not start with comm");
  Require(program.starts_with(instance), "instance name not a prefix of the program name");
  Require(comm.empty() || !instance.empty(), "instance name lost");
  Require(instance.size() <= zw::posix::kMaxInstanceNameBytes, "instance name not cut");
  if (!zw::posix::CommMayBeCut(comm)) Require(program == comm, "uncut comm replaced");
  return 0;
}
