// Damaged language files: every reader gives empty or partial results and
// carries on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "platform/ini_file.h"
#include "platform/registry.h"
#include "support/form_keys.h"
#include "support/language.h"
#include "support/message_catalog.h"
#include "util/temp_dir.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

const fs::path kBroken = fs::path(CORVANE_TEST_DATA) / "broken" / "lang";

std::vector<fs::path> BrokenFiles() {
  std::vector<fs::path> files;
  for (auto& e : fs::directory_iterator(kBroken))
    if (e.path().extension() == ".lge") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

void ExpectSoundPlan(const std::vector<FormAction>& plan) {
  for (const FormAction& a : plan) {
    EXPECT_FALSE(a.target.empty());
    EXPECT_FALSE(a.value.empty());
    EXPECT_EQ(TrimFormValue(a.value), a.value);
    EXPECT_GE(a.index, 0);
    if (a.property == FormProperty::Caption && !a.window_itself) {
      EXPECT_NE(a.target.front(), '_');
    }
    if (a.window_itself) {
      EXPECT_EQ(a.property, FormProperty::Caption);
    }
  }
}

TEST(BrokenLanguageFiles, EveryReaderSurvives) {
  auto files = BrokenFiles();
  ASSERT_GE(files.size(), 10u);
  for (const fs::path& original : files) {
    SCOPED_TRACE(original.filename().string());
    platform::ClearIniCache();
    test::TempDir install;
    fs::copy_file(original, install / "Français.lge");
    fs::copy_file(original, install / "Broken.lge");
    platform::Registry registry(install / "registry.ini");
    ASSERT_TRUE(StoreLanguage(registry, "Broken"));

    for (const CatalogKey& k : CatalogKeys()) (void)ReadMessage(install.path(), k.key, "Broken");
    MessageCatalog catalog = LoadMessageCatalog(install.path(), "Français (France)", registry);
    EXPECT_EQ(catalog.file, install / "Français.lge");
    EXPECT_EQ(catalog.caption, "Corvane 3");
    EXPECT_EQ(catalog.veille, ReadMessage(install.path(), "Veille", "Français"));

    auto choice = SelectLanguage(install.path(), "Broken", "");
    ASSERT_TRUE(std::holds_alternative<LanguageChoice>(choice));
    EXPECT_EQ(std::get<LanguageChoice>(choice).file_name, "Broken.lge");
    EXPECT_EQ(ListLanguages(install.path()).size(), 2u);

    for (const char* window : {"Form1", "FormGestion", "Mess", ""}) {
      auto plan = LoadFormTranslation("Broken.lge", install.path(), window);
      ExpectSoundPlan(plan);
      EXPECT_EQ(plan, PlanFormTranslation(window, platform::IniFile(install / "Broken.lge").Entries(window)));
    }
  }
}

class KnownDamage : public ::testing::Test {
 protected:
  void SetUp() override { platform::ClearIniCache(); }
  std::string Message(const char* file, const char* key) { return ReadMessage(kBroken, key, file); }
  std::vector<FormAction> Plan(const char* file) { return LoadFormTranslation(file, kBroken, "Form1"); }
};

TEST_F(KnownDamage, ReadsWhatCanBeRead) {
  EXPECT_EQ(Message("truncated", "Veille"), "En veille");
  EXPECT_EQ(Message("truncated", "Copie"), "Copie des fich");
  EXPECT_EQ(Message("bom_crlf", "Veille"), "En veille");
  EXPECT_EQ(Message("duplicate_sections", "Veille"), "premier");  // first section, first key
  EXPECT_EQ(Message("long_line", "Veille"), std::string(200000, 'x'));
  EXPECT_EQ(Message("long_line", "Copie"), "after");
  EXPECT_EQ(Message("latin1", "Veille"), "Pr\xEAt \xE0 sauvegarder");  // bytes as they are
  EXPECT_EQ(Message("utf16", "Veille"), "");
  EXPECT_EQ(Message("no_section", "Veille"), "");
  EXPECT_EQ(Message("empty", "Veille"), "");
  EXPECT_EQ(Message("quotes", "Copie"), "");
}

TEST_F(KnownDamage, OddWindowKeysLeaveOnlyTheSoundOnes) {
  EXPECT_EQ(Plan("odd_keys.lge"), (std::vector<FormAction>{{true, "Form1", FormProperty::Caption, 0, "Titre"}}));
  EXPECT_EQ(Plan("bom_crlf.lge"), (std::vector<FormAction>{{true, "Form1", FormProperty::Caption, 0, "Titre"}}));
  EXPECT_EQ(Plan("duplicate_sections.lge"),
            (std::vector<FormAction>{{false, "Label1", FormProperty::Caption, 0, "un"}}));
  auto long_plan = Plan("long_line.lge");
  ASSERT_EQ(long_plan.size(), 2u);
  EXPECT_EQ(long_plan[0].target, std::string(100000, 'L'));
  EXPECT_EQ(long_plan[1].value.size(), 100000u);  // 50000 two-byte characters
  EXPECT_TRUE(Plan("utf16.lge").empty());
}

}  // namespace
}  // namespace corvane
