// The window-key parser against arbitrary bytes: the first line names the
// window, every further line is "key=value". Whatever the input, each action
// planned is one the windows can apply as it stands.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/form_keys.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t first_end = text.find('\n');
  std::string_view window = text.substr(0, first_end);
  std::vector<std::pair<std::string, std::string>> entries;
  std::size_t kept_keys = 0;
  while (first_end != std::string_view::npos) {
    text.remove_prefix(first_end + 1);
    first_end = text.find('\n');
    std::string_view line = text.substr(0, first_end);
    std::size_t eq = line.find('=');
    std::string_view key = line.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);

    auto parsed = ParseFormKey(key);
    Check(parsed.has_value() == (key.find('.') != std::string_view::npos));
    if (parsed) {
      Check(parsed->kind == key.front());
      Check(key.ends_with(parsed->component));
      Check(!parsed->index || *parsed->index >= 0);
      ++kept_keys;
    }
    entries.emplace_back(key, value);
  }

  auto plan = PlanFormTranslation(window, entries);
  Check(plan.size() <= kept_keys);
  for (const FormAction& a : plan) {
    Check(!a.target.empty() && !a.value.empty());
    Check(TrimFormValue(a.value) == a.value);
    Check(a.index >= 0);
    if (a.property == FormProperty::Caption && !a.window_itself) Check(a.target.front() != '_');
    if (a.window_itself) Check(a.property == FormProperty::Caption && a.target.size() == window.size());
  }
  return 0;
}
