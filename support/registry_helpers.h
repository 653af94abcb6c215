// Small helpers over the registry store with the system's reading rules.
// Each call opens (creating when missing) its key, does one read or write and
// keeps nothing; failures are not reported to the caller beyond the result.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace corvane {

// The value's text up to its first NUL; empty when the value is missing,
// is not text, or is exactly one double-quote character (what some editors
// store for "nothing").
std::string RegReadString(platform::Registry& registry, platform::RegRoot root, std::string_view key,
                          std::string_view name);

// The value as a signed 32-bit integer; `fallback` when it is missing or not
// an integer value.
std::int32_t RegReadInteger(platform::Registry& registry, platform::RegRoot root, std::string_view key,
                            std::string_view name, std::int32_t fallback);

// Stores `text` up to its first NUL (what a reader gets back). An empty name
// writes the key's default value. Returns false when the store could not be
// written; callers of the system mostly ignore that.
bool RegWriteString(platform::Registry& registry, platform::RegRoot root, std::string_view key,
                    std::string_view name, std::string_view text);

// True when `path` names an existing directory (following links).
bool DirectoryExists(const std::filesystem::path& path);

}  // namespace corvane
