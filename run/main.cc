// The executable: adapts argv and hands the run to the logic with the native
// platform and standard output.
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "run/run.h"
#include "state/event_log_output.h"
#include "state/journal_output.h"
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
  zw::StdoutOutput standardOutput;
  zw::StderrOutput standardError;
  // Under systemd each line carries its priority into the journal; anywhere
  // else the bytes are the plain lines.
  zw::JournalOutput journalOutput(standardOutput, zw::StandardStream::kOutput,
                                  zw::IsJournalStream(zw::StandardStream::kOutput));
  zw::JournalOutput journalErrors(standardError, zw::StandardStream::kError,
                                  zw::IsJournalStream(zw::StandardStream::kError));
  // On Windows terminations, failures and refusals also reach the Event Log.
  const std::unique_ptr<zw::EventLog> eventLog = zw::MakeEventLog();
  zw::EventLogOutput output(journalOutput, zw::StandardStream::kOutput, eventLog.get());
  zw::EventLogOutput errors(journalErrors, zw::StandardStream::kError, eventLog.get());
  return zw::Main(args, *platform, output, errors);
}
