// Loading the message catalog, and where it comes from when the locale's
// language has no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/ini_file.h"
#include "platform/registry.h"
#include "support/language.h"
#include "support/message_catalog.h"
#include "util/temp_dir.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

// A language file whose every catalog text is `tag` and the key's name, so
// that a text read into the wrong member, or from the wrong file, shows.
std::string TaggedFile(const std::string& tag) {
  std::string text = "[Mess]\n";
  for (const CatalogKey& k : CatalogKeys()) text += std::string(k.key) + "=" + tag + " " + std::string(k.key) + "\n";
  return text;
}

class Catalog : public ::testing::Test {
 protected:
  void SetUp() override { platform::ClearIniCache(); }
  void Add(const std::string& name, const std::string& content) { test::WriteAll(install_ / name, content); }
  void StoreLocalisation(const std::string& language) { ASSERT_TRUE(StoreLanguage(registry_, language)); }

  test::TempDir install_;
  test::TempDir config_;
  platform::Registry registry_{config_ / "registry.ini"};
};

TEST_F(Catalog, EveryKeyFillsItsOwnMember) {
  Add("Français.lge", TaggedFile("fr"));
  MessageCatalog c = LoadMessageCatalog(install_.path(), "Français (France)", registry_);
  EXPECT_EQ(c.file, install_ / "Français.lge");
  EXPECT_EQ(c.caption, "Corvane 3");
  std::set<std::string> keys;
  for (const CatalogKey& k : CatalogKeys()) {
    EXPECT_TRUE(keys.insert(std::string(k.key)).second) << "listed twice: " << k.key;
    EXPECT_EQ(c.*k.text, "fr " + std::string(k.key));
    EXPECT_EQ(&c.Text(k.key), &(c.*k.text));
  }
  EXPECT_EQ(keys.size(), 41u);
  EXPECT_EQ(c.Text("veille"), "fr Veille");  // names ignore case, as in the file
  EXPECT_EQ(c.Text("BadPassword"), "");      // read by the windows, not a catalog key
  EXPECT_EQ(c.Text(""), "");
}

TEST_F(Catalog, KeysFollowTheirTableOrderAndMissingKeysStayEmpty) {
  const auto keys = CatalogKeys();
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(keys.front().key, "ErreurSauvegarde");
  EXPECT_EQ(keys.back().key, "ErreurReadAccess");
  // Key names as the file writes them, whatever their letter case.
  Add("Français.lge",
      "[Mess]\nVEILLE=au repos\nfincptfic=fin\n  Copie  =  copie en cours  \nScan=\"  blancs gardés \"\n"
      "[Autre]\nMutex=pas ici\n");
  MessageCatalog c = LoadMessageCatalog(install_.path(), "Français (France)", registry_);
  EXPECT_EQ(c.veille, "au repos");
  EXPECT_EQ(c.fin_cpt_fic, "fin");
  EXPECT_EQ(c.copie, "copie en cours");
  EXPECT_EQ(c.scan, "  blancs gardés ");
  EXPECT_EQ(c.mutex, "");  // another section
  EXPECT_EQ(c.erreur_ftp, "");
}

TEST_F(Catalog, FallsBackFromTheLocaleToTheStoredLanguageToFrench) {
  struct {
    bool locale_file;    // "English .lge", the locale's own (blank included)
    const char* stored;  // "localisation"
    bool stored_file;    // "Deutsch.lge"
    bool french_file;
    const char* from;    // tag of the file loaded, empty for none
  } cases[] = {
      {true, "Deutsch", true, true, "locale"},  // the locale wins over what the console shows
      {false, "Deutsch", true, true, "de"},
      {false, "Deutsch.lge", true, true, "de"},  // stored with its extension
      {false, "Deutsch", false, true, "fr"},
      {false, "", true, true, "fr"},
      {false, "../Deutsch", true, true, "fr"},
      {false, "Deutsch", false, false, ""},
      {false, "", false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + (c.locale_file ? " +locale" : "") + (c.stored_file ? " +de" : "") +
                 (c.french_file ? " +fr" : ""));
    for (const char* f : {"English .lge", "Deutsch.lge", "Français.lge"}) fs::remove(install_ / f);
    if (c.locale_file) Add("English .lge", TaggedFile("locale"));
    if (c.stored_file) Add("Deutsch.lge", TaggedFile("de"));
    if (c.french_file) Add("Français.lge", TaggedFile("fr"));
    StoreLocalisation(c.stored);
    MessageCatalog m = LoadMessageCatalog(install_.path(), "English (United States)", registry_);
    if (*c.from == '\0') {
      EXPECT_TRUE(m.file.empty());
      EXPECT_EQ(m.caption, "Corvane 3");
      for (const CatalogKey& k : CatalogKeys()) EXPECT_EQ(m.*k.text, "") << k.key;
    } else {
      EXPECT_EQ(m.veille, std::string(c.from) + " Veille");
      EXPECT_EQ(m.erreur_read_access, std::string(c.from) + " ErreurReadAccess");
    }
  }
}

TEST_F(Catalog, FrenchLocaleIgnoresTheStoredLanguage) {
  Add("Français.lge", TaggedFile("fr"));
  Add("English.lge", TaggedFile("en"));
  StoreLocalisation("English");
  EXPECT_EQ(LoadMessageCatalog(install_.path(), "Français (Belgique)", registry_).veille, "fr Veille");
  // A locale name shorter than eight characters is used whole.
  EXPECT_EQ(LoadMessageCatalog(install_.path(), "English", registry_).veille, "en Veille");
}

TEST_F(Catalog, ALoadSeesTheFileAsItIsNow) {
  Add("Français.lge", "[Mess]\nVeille=avant\n");
  EXPECT_EQ(LoadMessageCatalog(install_.path(), "Français (France)", registry_).veille, "avant");
  Add("Français.lge", "[Mess]\nVeille=après la mise à jour\n");
  EXPECT_EQ(LoadMessageCatalog(install_.path(), "Français (France)", registry_).veille, "après la mise à jour");
}

}  // namespace
}  // namespace corvane
