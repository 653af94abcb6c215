// Secrets come from files, a pipe or the terminal, never from the command
// line, where every user of the machine could read them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::cli {

// The file's content without one final line end ("\n" or "\r\n");
// nothing when it cannot be read.
std::optional<std::string> ReadSecretFile(const std::filesystem::path& file);
// Everything readable from `fd` until its end, the same way.
std::optional<std::string> ReadSecretStream(int fd);
// One line typed on the controlling terminal with echo off, after `prompt`;
// nothing when there is no terminal.
std::optional<std::string> ReadSecretTerminal(std::string_view prompt);

}  // namespace corvane::cli
