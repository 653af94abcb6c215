#include "support/registry_helpers.h"

#include <system_error>

namespace corvane {
namespace {

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

std::string RegReadString(platform::Registry& registry, platform::RegRoot root, std::string_view key,
                          std::string_view name) {
  registry.CreateKey(root, key);
  auto value = registry.Read(root, key, name);
  if (!value || value->type != platform::RegValue::Type::Text) return {};
  std::string_view text = UpToNul(value->text);
  if (text == "\"") return {};
  return std::string(text);
}

std::int32_t RegReadInteger(platform::Registry& registry, platform::RegRoot root, std::string_view key,
                            std::string_view name, std::int32_t fallback) {
  registry.CreateKey(root, key);
  auto value = registry.Read(root, key, name);
  if (!value || value->type != platform::RegValue::Type::Integer) return fallback;
  return static_cast<std::int32_t>(value->number);
}

bool RegWriteString(platform::Registry& registry, platform::RegRoot root, std::string_view key,
                    std::string_view name, std::string_view text) {
  registry.CreateKey(root, key);
  return registry.WriteText(root, key, name, UpToNul(text));
}

bool DirectoryExists(const std::filesystem::path& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace corvane
