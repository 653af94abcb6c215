#include "support/form_keys.h"

#include <charconv>
#include <exception>
#include <system_error>

#include "platform/ini_file.h"

namespace corvane {
namespace {

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 0x20; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameAsciiName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

std::optional<int> ParseIndex(std::string_view key) {
  std::size_t open = key.find('(');
  std::size_t close = key.find(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close <= open + 1) return std::nullopt;
  std::string_view digits = key.substr(open + 1, close - open - 1);
  for (char c : digits)
    if (c < '0' || c > '9') return std::nullopt;
  int value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

bool IsRegularFile(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec);
}

}  // namespace

std::optional<FormKey> ParseFormKey(std::string_view key) {
  std::size_t dot = key.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  FormKey parsed;
  parsed.kind = key.empty() ? '\0' : key.front();
  parsed.index = ParseIndex(key);
  parsed.component = std::string(key.substr(dot + 1));
  return parsed;
}

std::string TrimFormValue(std::string_view value) {
  while (!value.empty() && IsTrimmed(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsTrimmed(value.back())) value.remove_suffix(1);
  return std::string(value);
}

std::vector<FormAction> PlanFormTranslation(std::string_view window_name,
                                            const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<FormAction> plan;
  for (const auto& [key, raw_value] : entries) {
    std::optional<FormKey> parsed = ParseFormKey(key);
    if (!parsed || parsed->component.empty()) continue;
    std::string value = TrimFormValue(raw_value);
    if (value.empty()) continue;

    FormAction action;
    action.window_itself = SameAsciiName(parsed->component, window_name);
    action.target = std::move(parsed->component);
    action.value = std::move(value);
    switch (Upper(parsed->kind)) {
      case 'N':
        if (action.target.front() == '_') continue;
        action.property = FormProperty::Caption;
        break;
      case 'H':
        action.property = FormProperty::Hint;
        break;
      case 'L':
        action.property = FormProperty::Item;
        break;
      case 'C':
        action.property = FormProperty::ColumnCaption;
        break;
      default:
        continue;
    }
    if (action.property == FormProperty::Item || action.property == FormProperty::ColumnCaption) {
      if (!parsed->index) continue;
      action.index = *parsed->index;
    }
    // A window is none of the targets a hint, an item or a column is for.
    if (action.window_itself && action.property != FormProperty::Caption) continue;
    plan.push_back(std::move(action));
  }
  return plan;
}

std::optional<std::filesystem::path> ResolveTranslationFile(std::string_view file_name,
                                                            const std::filesystem::path& program_dir) {
  if (file_name.empty() || file_name.find('\0') != std::string_view::npos) return std::nullopt;
  std::filesystem::path given{std::string(file_name)};
  std::filesystem::path first = given.has_parent_path() ? given : program_dir / given;
  if (IsRegularFile(first)) return first;
  // The program's directory followed by the name, as text: an absolute name
  // is looked up below that directory rather than replacing it.
  std::filesystem::path second = program_dir / given.relative_path();
  if (!given.relative_path().empty() && IsRegularFile(second)) return second;
  return std::nullopt;
}

std::vector<FormAction> LoadFormTranslation(std::string_view file_name, const std::filesystem::path& program_dir,
                                            std::string_view window_name) {
  try {
    auto file = ResolveTranslationFile(file_name, program_dir);
    if (!file) return {};
    return PlanFormTranslation(window_name, platform::IniFile(*file).Entries(window_name));
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace corvane
