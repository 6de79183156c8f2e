// TerminalPasswordPrompt asks for an archive's password on the terminal,
// with the app's texts: echo off, an empty answer asks again, end of input
// (or Ctrl-C) declines.
//
//   if (TerminalPasswordPrompt::isAvailable()) {
//       std::optional<std::string> password = TerminalPasswordPrompt::ask(request);
//   }
#pragma once

#include <optional>
#include <string>

#include "TovaniCore/PasswordRequest.h"

namespace tovani::TerminalPasswordPrompt {

// True when standard input is a terminal.
[[nodiscard]] bool isAvailable();

std::optional<std::string> ask(const PasswordRequest& request);

}  // namespace tovani::TerminalPasswordPrompt
