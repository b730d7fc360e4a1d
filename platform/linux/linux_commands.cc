// Commands: finding the program, starting it, following it to its end,
// and ending it; the target it is told.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/command_line.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/own_process.h"
#include "platform/linux/spawn.h"
#include "platform/linux/trusted_path.h"

namespace zw {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}
std::string OwnDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return {};
  const std::string_view exe(path, static_cast<std::size_t>(length));
  const std::size_t slash = exe.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(exe.substr(0, slash == 0 ? 1 : slash));
}
std::string SearchPath() {
  if (const char* path = std::getenv("PATH")) return path;
  // No PATH at all: the system's default, as execvp would use.
  char fallback[256];
  const std::size_t length = ::confstr(_CS_PATH, fallback, sizeof fallback);
  return length > 0 && length <= sizeof fallback ? fallback : "/bin:/usr/bin";
}

}  // namespace

void LinuxPlatform::ReapCommands() {
  for (auto& [pid, command] : commands_) {
    if (!command.exitCode) command.exitCode = posix::ReapIfEnded(pid);
  }
  std::erase_if(commands_, [](const auto& entry) {
    return !entry.second.handleOpen && entry.second.exitCode;
  });
}

CommandState LinuxPlatform::GetCommandState(Handle process, std::uint32_t* exitCode) {
  const HandleEntry* entry = FindHandle(process);
  if (exitCode == nullptr || entry == nullptr || entry->kind != HandleKind::kProcess) {
    Fail(kErrorInvalidHandle);
    return CommandState::kUnknown;
  }
  // Only a child can be waited for, and so only a child's end is known.
  const auto command = commands_.find(entry->command);
  if (command == commands_.end()) {
    Fail(kErrorAccessDenied);
    return CommandState::kUnknown;
  }
  ReapCommands();
  if (!command->second.exitCode) return CommandState::kRunning;
  *exitCode = *command->second.exitCode;
  return CommandState::kEnded;
}

// Only a command this process started, still unreaped, so the pid cannot
// have passed to another process.
bool LinuxPlatform::TerminateProcess(Handle process, std::uint32_t) {
  const HandleEntry* entry = FindHandle(process);
  if (entry == nullptr || entry->kind != HandleKind::kProcess) return Fail(kErrorInvalidHandle);
  const auto command = commands_.find(entry->command);
  if (command == commands_.end()) return Fail(kErrorAccessDenied);
  if (command->second.exitCode) return true;
  if (::kill(command->first, SIGKILL) != 0) return Fail(posix::ErrnoToWin32(errno));
  command->second.exitCode = posix::WaitForEnd(command->first);
  return true;
}

void LinuxPlatform::HoldTermination(bool hold) { posix::BlockTerminationSignals(hold); }

// In the environment, which the commands started next inherit.
bool LinuxPlatform::SetCommandTarget(const TargetIdentity* target) {
  const int result = target != nullptr ? ::setenv(kTargetVariable, FormatTarget(*target).c_str(), 1)
                                       : ::unsetenv(kTargetVariable);
  return result == 0 || Fail(posix::ErrnoToWin32(errno));
}

bool LinuxPlatform::CreateProcessA(const char* applicationName, char* commandLine, bool,
                                   std::uint32_t, const StartupInfo&,
                                   ProcessInformation* processInformation) {
  ReapCommands();
  if (processInformation == nullptr || (applicationName == nullptr && commandLine == nullptr)) {
    return Fail(kErrorInvalidParameter);
  }
  std::vector<std::string> args =
      posix::SplitCommandLine(commandLine != nullptr ? commandLine : "");
  std::optional<std::string> program;
  if (applicationName != nullptr) {
    // An explicit program is taken as it is, never searched for.
    program = applicationName;
    if (args.empty()) args.emplace_back(applicationName);
  } else if (!args.empty()) {
    bool own = false;
    std::string found = FindCommandProgram(args[0].c_str(), &own, nullptr);
    if (!found.empty()) program = std::move(found);
  }
  if (!program) return Fail(kErrorFileNotFound);
  int pid = -1;
  if (const int error = posix::StartProgram(*program, args, &pid); error != 0) {
    return Fail(posix::ErrnoToWin32(error));
  }
  commands_[pid] = StartedCommand{};
  RecordStarted(pid, processInformation);
  return true;
}

// A program found by the lookup runs with this process's rights: one that
// someone else could have planted is passed over, and told. With the right
// to end anyone's processes, only the package's own command is started: one
// found on PATH alone may be the system's kill, which knows nothing of the
// identity it is given, or anybody's.
std::string LinuxPlatform::FindCommandProgram(const char* name, bool* own,
                                              std::vector<std::string>* passedOver) {
  const std::string word = name != nullptr ? name : "";
  const std::string ownDirectory = OwnDirectory();
  const std::string searchPath = SearchPath();
  const auto trusted = [&](const std::string& path) {
    const auto why = posix::DistrustOf(path, static_cast<std::uint32_t>(::geteuid()));
    if (why && passedOver != nullptr) {
      passedOver->push_back("not starting untrusted " + path + ": " + *why);
    }
    return !why;
  };
  const std::optional<std::string> program = posix::ResolveProgram(
      word, ownDirectory, privileged_ ? "" : searchPath, IsExecutableFile, trusted);
  if (program) {
    *own = posix::IsOwnProgram(*program, ownDirectory, searchPath);
    return *program;
  }
  if (!privileged_ || passedOver == nullptr) return {};
  if (const auto onPath = posix::ResolveProgram(word, "", searchPath, IsExecutableFile, trusted)) {
    passedOver->push_back("not starting " + *onPath +
                          " found only on PATH: a privileged run starts only its own " + word);
  }
  return {};
}

// A started command may already have ended (it is not reaped yet, so its
// start time is still there to pin it).
void LinuxPlatform::RecordStarted(int pid, ProcessInformation* info) {
  const auto id = static_cast<std::uint32_t>(pid);
  // Left at the pid alone where it cannot be read.
  ProcessIdentity identity{id};
  Identify(id, true, &identity);
  info->process = AddHandle({HandleKind::kProcess, identity, pid});
  info->thread = AddHandle({HandleKind::kThread, identity});
  info->processId = id;
  info->threadId = id;  // the first thread's id is the process id
}

std::string LinuxPlatform::ProgramDirectory() { return OwnDirectory(); }

}  // namespace zw
