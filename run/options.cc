// The command line: one table row per long option, each taken in the
// spellings "--name" and "/name"; its other spellings are refused, so that
// a preview can never turn into a run by a slip of the pen.
#include <algorithm>

#include "base/ascii.h"
#include "run/run.h"

namespace zw {
namespace {

struct LongOption {
  std::string_view name;
  Mode mode;
  /// Where the option's value goes; nullptr when it takes none.
  std::optional<std::string> CommandLine::*value = nullptr;
  /// Whether the value may be left out: then the next argument is the value
  /// only when it is none of the tool's own arguments.
  bool valueOptional = false;
};

constexpr LongOption kLongOptions[] = {
    {"help", Mode::kHelp},
    {"version", Mode::kVersion},
    {"check", Mode::kCheck, &CommandLine::checkFile, true},
    {"dry-run", Mode::kDryRun},
    {"metrics", Mode::kWatch, &CommandLine::metricsPath},
};

bool IsVerboseSwitch(std::string_view arg) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && (arg[1] == 'D' || arg[1] == 'd');
}

bool IsShortHelp(std::string_view arg) { return arg == "-h" || arg == "-?" || arg == "/?"; }

const LongOption* Named(std::string_view name, bool anyCase) {
  for (const LongOption& option : kLongOptions) {
    if (anyCase ? EqualIgnoringAsciiCase(name, option.name) : name == option.name) return &option;
  }
  return nullptr;
}

// The option `arg` asks for in a spelling that is taken: "--name" as
// written, "/name" in any letter case.
const LongOption* Taken(std::string_view arg) {
  if (arg.starts_with("--")) return Named(arg.substr(2), false);
  if (arg.starts_with("/")) return Named(arg.substr(1), true);
  return nullptr;
}

// "-name" and a bare "name" of a long option, in any letter case.
bool IsRefusedSpelling(std::string_view arg) {
  if (arg.starts_with("-") && !arg.starts_with("--") && Named(arg.substr(1), true)) return true;
  return Named(arg, true) != nullptr;
}

bool IsOwnArgument(std::string_view arg) {
  return IsVerboseSwitch(arg) || IsShortHelp(arg) || arg.starts_with("--") || Taken(arg) ||
         IsRefusedSpelling(arg);
}

// An argument as the error sink shows it: cut, so that a huge one cannot
// flood the log, and with every byte that is not printable ASCII (escape
// sequences, line ends) shown as "?".
std::string Printable(std::string_view arg) {
  std::string shown(arg.substr(0, 64));
  for (char& c : shown) {
    if (c < ' ' || c > '~') c = '?';
  }
  return shown;
}

void Refuse(CommandLine& commandLine, std::string reason) {
  commandLine.mode = Mode::kUnknownOption;
  if (commandLine.refusal.empty()) commandLine.refusal = std::move(reason);
}

// Takes the option's value from the argument after `*i`, if it has one.
void TakeValue(const LongOption& option, std::span<const std::string_view> args, std::size_t* i,
               CommandLine& commandLine) {
  const bool present = *i + 1 < args.size();
  if (present && (!option.valueOptional || !IsOwnArgument(args[*i + 1]))) {
    commandLine.*option.value = std::string(args[++*i]);
    // An empty value names no file: as good as none.
    if (!option.valueOptional && args[*i].empty()) {
      Refuse(commandLine, "option --" + std::string(option.name) + " needs a value");
    }
  } else if (!option.valueOptional) {
    Refuse(commandLine, "option --" + std::string(option.name) + " needs a value");
  }
}

}  // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
  CommandLine commandLine;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (IsVerboseSwitch(arg)) commandLine.verbose = 1;
    // The program name is no option.
    if (i == 0) continue;
    Mode mode = IsShortHelp(arg) ? Mode::kHelp : Mode::kWatch;
    if (const LongOption* option = Taken(arg)) {
      mode = option->mode;
      if (option->value != nullptr) TakeValue(*option, args, &i, commandLine);
    } else if (IsRefusedSpelling(arg) || (arg.size() > 2 && arg.starts_with("--"))) {
      // A misspelt option must not become a run.
      Refuse(commandLine, "unknown option " + Printable(arg));
    }
    commandLine.mode = std::max(commandLine.mode, mode);
  }
  return commandLine;
}

}  // namespace zw
