// Reading messages, choosing the programs' language and listing the
// languages an installation offers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>

#include "platform/ini_file.h"
#include "platform/registry.h"
#include "support/language.h"
#include "util/temp_dir.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

class InstallDir : public ::testing::Test {
 protected:
  void SetUp() override { platform::ClearIniCache(); }
  void Add(const std::string& name, const std::string& content = "[Mess]\nK=v\n") {
    test::WriteAll(dir_ / name, content);
  }
  test::TempDir dir_;
};

using ReadMessageTest = InstallDir;

TEST_F(ReadMessageTest, NamesTheFileAndReadsOneKey) {
  Add("Deutsch.lge", "[Mess]\nVeille=Bereit\n[Form1]\nN.Form1=Hauptfenster\n");
  Add("Deutsch.lge.lge", "[Mess]\nVeille=doubled\n");
  Add("Deutsch.lge.bak", "[Mess]\nVeille=backup\n");
  Add("Deutsch.LGE.lge", "[Mess]\nVeille=upper\n");
  struct {
    const char* language;
    const char* key;
    const char* section;
    const char* text;
  } cases[] = {
      {"Deutsch", "Veille", "Mess", "Bereit"},
      {"Deutsch.lge", "Veille", "Mess", "Bereit"},          // ".lge" present: nothing appended
      {"Deutsch.lge.bak", "Veille", "Mess", "backup"},      // present anywhere in the text
      {"Deutsch.LGE", "Veille", "Mess", "upper"},           // other letter case: appended
      {"Deutsch", "VEILLE", "mess", "Bereit"},              // key and section ignore case
      {"Deutsch", "N.Form1", "Form1", "Hauptfenster"},
      {"Deutsch", "Absent", "Mess", ""},                    // missing key
      {"Deutsch", "Veille", "Absent", ""},                  // missing section
      {"Svenska", "Veille", "Mess", ""},                    // missing file
      {"", "Veille", "Mess", ""},                           // ".lge" alone
      {"../Deutsch", "Veille", "Mess", ""},                 // never outside the directory
      {"sub/Deutsch", "Veille", "Mess", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReadMessage(dir_.path(), c.key, c.language, c.section), c.text) << c.language << " " << c.key;
  EXPECT_EQ(ReadMessage(dir_.path(), "Veille", "Deutsch"), "Bereit");  // section "Mess" by default
}

TEST_F(ReadMessageTest, AnAbsoluteLanguageTextDoesNotEscapeTheDirectory) {
  test::TempDir elsewhere;
  test::WriteAll(elsewhere / "Evil.lge", "[Mess]\nVeille=outside\n");
  EXPECT_EQ(ReadMessage(dir_.path(), "Veille", (elsewhere / "Evil").string()), "");
  EXPECT_EQ(ReadMessage(dir_.path(), "Veille", (elsewhere / "Evil.lge").string()), "");
}

TEST_F(ReadMessageTest, SeesAFileChangedOnDisk) {
  Add("Italiano.lge", "[Mess]\nVeille=uno\n");
  EXPECT_EQ(ReadMessage(dir_.path(), "Veille", "Italiano"), "uno");
  Add("Italiano.lge", "[Mess]\nVeille=due, più lungo\n");
  EXPECT_EQ(ReadMessage(dir_.path(), "Veille", "Italiano"), "due, più lungo");
}

TEST_F(ReadMessageTest, UnreadableFilesAndDirectoriesGiveEmptyText) {
  fs::create_directory(dir_ / "Dir.lge");
  EXPECT_EQ(ReadMessage(dir_.path(), "K", "Dir"), "");
  EXPECT_EQ(ReadMessage(dir_ / "missing-install-dir", "K", "Dir"), "");
}

using SelectLanguageTest = InstallDir;

TEST_F(SelectLanguageTest, DecisionTable) {
  const std::string incorrect(kInstallMissingMessage);
  const std::string incorrecte(kInstallMissingMessageFrench);
  struct {
    bool french_file;
    bool german_file;
    const char* stored;
    const char* locale;
    const char* language;  // empty when the program must end
    std::string message;
  } cases[] = {
      {true, true, "Deutsch", "Français (France)", "Deutsch", ""},
      {true, false, "Deutsch", "Français (France)", "Français", ""},     // falls back to French
      {false, true, "Deutsch", "Français (France)", "Deutsch", ""},      // French not needed then
      {false, false, "Deutsch", "Français (France)", "", incorrect},
      {true, true, "Français", "Deutsch (Deutschland)", "Français", ""},
      {false, true, "Français", "Deutsch (Deutschland)", "", incorrecte},
      // No stored language: the locale's first eight characters.
      {true, true, "", "Français (France)", "Français", ""},
      {false, true, "", "Français (France)", "", incorrecte},
      {true, true, "", "Deutsch (Österreich)", "Français", ""},       // "Deutsch " has no file
      {true, true, "", "English (United States)", "Français", ""},
      {false, false, "", "English (United States)", "", incorrect},
      {true, true, "", "Français", "Français", ""},                    // shorter than eight
      {true, false, "../Français", "", "Français", ""},                // not a file of the directory
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + " / " + c.locale + (c.french_file ? " +fr" : "") +
                 (c.german_file ? " +de" : ""));
    fs::remove(dir_ / "Français.lge");
    fs::remove(dir_ / "Deutsch.lge");
    if (c.french_file) Add("Français.lge");
    if (c.german_file) Add("Deutsch.lge");
    LanguageDecision d = SelectLanguage(dir_.path(), c.stored, c.locale);
    if (c.message.empty()) {
      ASSERT_TRUE(std::holds_alternative<LanguageChoice>(d));
      EXPECT_EQ(std::get<LanguageChoice>(d).language, c.language);
      EXPECT_EQ(std::get<LanguageChoice>(d).file_name, std::string(c.language) + ".lge");
    } else {
      ASSERT_TRUE(std::holds_alternative<InstallationError>(d));
      EXPECT_EQ(std::get<InstallationError>(d).message, c.message);
    }
  }
}

TEST_F(SelectLanguageTest, OnlyARegularFileCountsAsPresent) {
  Add("Français.lge");
  fs::create_directory(dir_ / "Deutsch.lge");
  fs::create_symlink(dir_ / "nowhere.lge", dir_ / "Dansk.lge");
  for (const char* stored : {"Deutsch", "Dansk"}) {
    auto d = SelectLanguage(dir_.path(), stored, "");
    ASSERT_TRUE(std::holds_alternative<LanguageChoice>(d)) << stored;
    EXPECT_EQ(std::get<LanguageChoice>(d).language, "Français") << stored;
  }
}

TEST_F(SelectLanguageTest, StoredLanguageRoundTripsThroughTheRegistry) {
  platform::Registry registry(dir_ / "store" / "registry.ini");
  EXPECT_EQ(StoredLanguage(registry), "");
  ASSERT_TRUE(StoreLanguage(registry, "Português"));
  EXPECT_EQ(StoredLanguage(registry), "Português");
  auto raw = registry.Read(platform::RegRoot::CurrentUser, "Software\\Corvane3\\inc", "localisation");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->text, "Português");
}

using ListLanguagesTest = InstallDir;

TEST_F(ListLanguagesTest, OneItemPerLanguageFileSortedByName) {
  for (const char* name : {"Italiano.lge", "English.lge", "Français.lge", "Deutsch.v2.lge", "notes.txt",
                           "Upper.LGE", "Backup.lge.old", ".lge", "corvane3.tps"})
    Add(name);
  fs::create_directory(dir_ / "Folder.lge");
  auto items = ListLanguages(dir_.path());
  struct {
    const char* caption;
    const char* language;
  } expected[] = {
      {"Deutsch", "Deutsch.v2"},  // caption up to the first full stop; the choice keeps the file
      {"English", "English"},
      {"Français", "Français"},
      {"Italiano", "Italiano"},
  };
  ASSERT_EQ(items.size(), std::size(expected));
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].caption, expected[i].caption);
    EXPECT_EQ(items[i].language, expected[i].language);
    // What the menu selects names an existing file.
    EXPECT_TRUE(fs::is_regular_file(dir_ / (items[i].language + ".lge"))) << items[i].language;
  }
  EXPECT_TRUE(ListLanguages(dir_ / "missing").empty());
}

TEST(AcceleratorMarker, RemovedOnce) {
  struct {
    const char* caption;
    const char* name;
  } cases[] = {
      {"&Deutsch", "Deutsch"}, {"Fran&çais", "Français"}, {"English", "English"},
      {"R&&D", "R&D"},         {"&A&B", "A&B"},           {"&", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StripAcceleratorMarker(c.caption), c.name) << c.caption;
}

}  // namespace
}  // namespace corvane
