// Window sections of a language file, read into what the windows apply.
//
// A key is a kind letter, an optional index in parentheses, a full stop and a
// component name: "N.Langue1", "H.ToolButton3", "L(2).ComboBoxJours",
// "C(0).ListViewSauvegarde". Kinds: N caption (skipped for names beginning
// with "_"), H hint, L item number index, C column caption number index.
// The windows own the widgets; this code only decides what to set.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

struct FormKey {
  char kind = 0;             // the key's first character, as written
  std::optional<int> index;  // the number between the first "(" and the first ")"
  std::string component;     // everything after the first full stop
};

// Nothing for a key without a full stop. The index is absent when either
// parenthesis is missing, they come in the wrong order, or what stands between
// them is not a non-negative decimal number within int range.
std::optional<FormKey> ParseFormKey(std::string_view key);

// A value as the windows use it: blanks and control characters trimmed at
// both ends.
std::string TrimFormValue(std::string_view value);

enum class FormProperty { Caption, Hint, Item, ColumnCaption };

struct FormAction {
  bool window_itself = false;  // the target is the window, not one of its components
  std::string target;          // component name (the window's own name when window_itself)
  FormProperty property = FormProperty::Caption;
  int index = 0;               // Item and ColumnCaption only
  std::string value;           // trimmed, never empty

  bool operator==(const FormAction&) const = default;
};

// What to apply to window `window_name` for its section's entries (key and
// value, in file order), in that order. Skipped: keys without a full stop or
// with an empty component name, kinds other than N, H, L and C (either letter
// case, as INI keys are), N keys whose component begins with "_", L and C
// keys without a valid index, keys naming the window itself with any kind but
// N, and empty or blank values. A component name equal to the window's name
// (without regard to ASCII case, as component names are) targets the window.
std::vector<FormAction> PlanFormTranslation(std::string_view window_name,
                                            const std::vector<std::pair<std::string, std::string>>& entries);

// The language file a translator's file name designates: a name without a
// directory is looked up in `program_dir`; when the file is not found there
// (or at the path given), `program_dir` followed by the name is tried.
// Nothing when neither is a regular file.
std::optional<std::filesystem::path> ResolveTranslationFile(std::string_view file_name,
                                                            const std::filesystem::path& program_dir);

// The plan for window `window_name` from the file `file_name` designates;
// empty when there is no such file or section, so the window keeps its texts.
std::vector<FormAction> LoadFormTranslation(std::string_view file_name, const std::filesystem::path& program_dir,
                                            std::string_view window_name);

}  // namespace corvane
