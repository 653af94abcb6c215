// Window sections of a language file: which key sets what on which target.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "support/form_keys.h"
#include "util/temp_dir.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using P = FormProperty;

TEST(FormKeyParse, KindIndexAndComponent) {
  struct {
    const char* key;
    bool parsed;
    char kind;
    std::optional<int> index;
    const char* component;
  } cases[] = {
      {"N.Langue1", true, 'N', std::nullopt, "Langue1"},
      {"H.ToolButton3", true, 'H', std::nullopt, "ToolButton3"},
      {"L(2).ComboBoxJours", true, 'L', 2, "ComboBoxJours"},
      {"C(0).ListViewSauvegarde", true, 'C', 0, "ListViewSauvegarde"},
      {"L(35).ComboBoxJours", true, 'L', 35, "ComboBoxJours"},
      {"N.Menu.Item", true, 'N', std::nullopt, "Menu.Item"},  // after the first full stop
      {"N.", true, 'N', std::nullopt, ""},
      {"L(.X", true, 'L', std::nullopt, "X"},               // no ")"
      {"L().X", true, 'L', std::nullopt, "X"},              // nothing between
      {"L(x).X", true, 'L', std::nullopt, "X"},
      {"L(-1).X", true, 'L', std::nullopt, "X"},
      {"L( 2).X", true, 'L', std::nullopt, "X"},
      {"L)3(.X", true, 'L', std::nullopt, "X"},             // wrong order
      {"L(99999999999).X", true, 'L', std::nullopt, "X"},   // beyond int
      {"L(2147483647).X", true, 'L', 2147483647, "X"},
      {"L.X(4)", true, 'L', 4, "X(4)"},                     // first "(" and ")" of the whole key
      {".X", true, '.', std::nullopt, "X"},
      {"NLabel1", false, 0, std::nullopt, ""},
      {"(9)", false, 0, std::nullopt, ""},
      {"", false, 0, std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    auto k = ParseFormKey(c.key);
    ASSERT_EQ(k.has_value(), c.parsed);
    if (!k) continue;
    EXPECT_EQ(k->kind, c.kind);
    EXPECT_EQ(k->index, c.index);
    EXPECT_EQ(k->component, c.component);
  }
}

TEST(FormKeyPlan, WhatEachKeyDoes) {
  struct {
    const char* key;
    const char* value;
    std::vector<FormAction> actions;
  } cases[] = {
      {"N.Langue1", "Language", {{false, "Langue1", P::Caption, 0, "Language"}}},
      {"H.ToolButton3", " New folder ", {{false, "ToolButton3", P::Hint, 0, "New folder"}}},
      {"L(2).ComboBoxJours", "Tuesday", {{false, "ComboBoxJours", P::Item, 2, "Tuesday"}}},
      {"C(0).ListViewSauvegarde", "Name", {{false, "ListViewSauvegarde", P::ColumnCaption, 0, "Name"}}},
      {"n.Label2", "lower kind", {{false, "Label2", P::Caption, 0, "lower kind"}}},
      {"N.Form1", "Main window", {{true, "Form1", P::Caption, 0, "Main window"}}},  // the window's title
      {"N.FORM1", "Main window", {{true, "FORM1", P::Caption, 0, "Main window"}}},
      {"N._Label1", "not translated", {}},
      {"N._", "x", {}},
      {"H._Label1", "a hint", {{false, "_Label1", P::Hint, 0, "a hint"}}},  // the "_" rule is N's only
      {"L(3).ComboBoxJours", "   ", {}},                                    // blank value
      {"L(3).ComboBoxJours", "\t \r", {}},
      {"N.Label1", "", {}},
      {"L.ComboBoxJours", "no index", {}},
      {"L(x).ComboBoxJours", "bad index", {}},
      {"C(.ListView1", "bad index", {}},
      {"N(x).Label1", "index unused", {{false, "Label1", P::Caption, 0, "index unused"}}},
      {"NLabel1", "no full stop", {}},
      {"Z.Label1", "unknown kind", {}},
      {"N.", "no component", {}},
      {".Label1", "no kind", {}},
      {"H.Form1", "a window has no hint here", {}},
      {"L(0).Form1", "nor items", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    EXPECT_EQ(PlanFormTranslation("Form1", {{c.key, c.value}}), c.actions);
  }
}

TEST(FormKeyPlan, KeepsFileOrderAndSkipsOnlyTheBadKeys) {
  std::vector<std::pair<std::string, std::string>> entries = {
      {"N.Form1", "Corvane 3 Pro"}, {"L(0).ComboBoxJours", "Every day"}, {"L(x).ComboBoxJours", "bad"},
      {"N.Label1", "first"},        {"Q.Label1", "unknown"},              {"N.Label1", "second"},
  };
  auto plan = PlanFormTranslation("Form1", entries);
  ASSERT_EQ(plan.size(), 4u);
  EXPECT_TRUE(plan[0].window_itself);
  EXPECT_EQ(plan[1].value, "Every day");
  EXPECT_EQ(plan[2].value, "first");
  EXPECT_EQ(plan[3].value, "second");  // applied later, so it wins
}

class TranslationFile : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ClearIniCache();
    fs::create_directory(program_ / "sub");
    test::WriteAll(program_ / "English.lge", "[FormGestion]\nN.FormGestion=Manager\nH.ToolButton1=Quit\n");
    test::WriteAll(program_ / "sub" / "Deutsch.lge", "[FormGestion]\nN.FormGestion=Verwaltung\n");
    fs::create_directory(program_ / "Folder.lge");
  }
  test::TempDir program_;
  test::TempDir other_;
};

TEST_F(TranslationFile, ResolvedAsTheTranslatorDoes) {
  test::WriteAll(other_ / "Italiano.lge", "[FormGestion]\n");
  struct {
    std::string file_name;
    std::optional<fs::path> resolved;
  } cases[] = {
      {"English.lge", program_ / "English.lge"},                      // no directory: the program's
      {(program_ / "English.lge").string(), program_ / "English.lge"},
      {(other_ / "Italiano.lge").string(), other_ / "Italiano.lge"},  // a path is taken as given
      {"sub/Deutsch.lge", program_ / "sub" / "Deutsch.lge"},          // then below the program's directory
      {(other_ / "sub" / "Deutsch.lge").string(), std::nullopt},
      {"Svenska.lge", std::nullopt},
      {"Folder.lge", std::nullopt},  // not a file
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveTranslationFile(c.file_name, program_.path()), c.resolved) << c.file_name;
  // An absolute name missing where it points is looked up below the program's directory.
  fs::path inside = program_.path() / other_.path().relative_path() / "Dansk.lge";
  fs::create_directories(inside.parent_path());
  test::WriteAll(inside, "[FormGestion]\n");
  EXPECT_EQ(ResolveTranslationFile((other_ / "Dansk.lge").string(), program_.path()), inside);
}

TEST_F(TranslationFile, LoadReadsTheWindowsSection) {
  auto plan = LoadFormTranslation("English.lge", program_.path(), "formgestion");  // section name ignores case
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_EQ(plan[0], (FormAction{true, "FormGestion", P::Caption, 0, "Manager"}));
  EXPECT_EQ(plan[1], (FormAction{false, "ToolButton1", P::Hint, 0, "Quit"}));
  EXPECT_TRUE(LoadFormTranslation("English.lge", program_.path(), "AboutBox").empty());
  EXPECT_TRUE(LoadFormTranslation("Svenska.lge", program_.path(), "FormGestion").empty());
}

}  // namespace
}  // namespace corvane
