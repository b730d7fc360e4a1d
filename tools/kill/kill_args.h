// Command-line parsing of the kill helper, kept free of system calls so that
// it can be tested anywhere.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zw {

/// What `kill <pid>` was asked to do: the identifier of the one process to
/// terminate, or why the command line was refused.
struct KillRequest {
  std::uint32_t pid = 0;
  std::string error;  // empty when `pid` is valid

  bool Ok() const { return error.empty(); }
};

/// `arguments` are the command-line arguments after the program name. Exactly
/// one is accepted: a decimal process identifier from 1 to 4294967295.
KillRequest ParseKillArguments(std::span<const std::string_view> arguments);

}  // namespace zw
