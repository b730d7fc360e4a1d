// The executable: adapts argv and hands the run to the logic with the native
// platform and standard output.
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "run/run.h"
#include "state/output.h"

int main(int argc, char** argv) {
  // As pid 1 of a container the system gives these signals no default
  // action; a stopped container must not wait for SIGKILL.
  zw::EndOnTerminationSignals();
  // A reader that goes away (a pipe into head, a closed log) must not end
  // the run half-way: a failed write is ignored as a closed stdout is.
  zw::SurviveClosedOutputs();
  const std::vector<std::string_view> args(argv, argv + argc);
  const std::unique_ptr<zw::Platform> platform = zw::MakeNativePlatform();
  zw::StdoutOutput output;
  zw::StderrOutput errors;
  return zw::Main(args, *platform, output, errors);
}
