// The language files shipped in lang/: every message a program asks for is
// there, in both languages, and the texts fit how the programs use them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "platform/ini_file.h"
#include "platform/locale.h"
#include "support/language.h"
#include "support/message_catalog.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

const fs::path kLangDir = fs::path(CORVANE_SOURCE_DIR) / "lang";
const char* const kFiles[] = {"Français.lge", "English.lge"};

// Messages the console's and the manager's windows read by key.
const char* const kWindowKeys[] = {
    // console
    "BadPassword", "BoiteChoixDate", "BothSave", "Certain?", "ClassicArch", "ClassicSave", "CompressSave",
    "ConfirmAnnulCorvane", "ConfirmAnnulSauve", "ConfirmAnnulSauveSvp", "ConfirmClone", "ConfirmEffaceCal",
    "ConfirmEffaceJournaux", "ConfirmSuppr", "ConfirmSvp", "CryptArch", "CryptSave", "ErreurCryptkey", "ErreurDate",
    "ErreurDesti", "ErreurNoName", "ErreurNomDossier", "ErreurOrigine", "ErreurTypeDesti", "ErreurTypeSauve",
    "ErreurTypedelai", "FicSelect", "FtpServer", "LongProc", "LongProc2", "LongProc3", "NoCal", "NoJournal", "Rep",
    "Svp", "TexteChoixDate", "ErreurReseau", "ErreurPath",
    // manager
    "AddFile", "ConfirmDelete", "ConfirmDelete2", "ConfirmOpen", "Confirme", "Confirme2", "ConfirmeRep",
    "Effacement", "EnterPassword", "ErreurFichier", "ErreurFichier2", "ErreurNullSelect", "ErrorAccess",
    "ErrorAccessFolder", "ErrorOpen", "ErrorOpenDesti", "ErrorOpenSource", "ErrorTransfert", "ErrorZip",
    "Filecrypt", "Filedecrypt", "Files", "InputNewFolder", "Nom", "OpenCompressFiles", "Password",
    "PasswordPlease", "Racine", "SelectForlderExtract", "TexteNouveauFic", "TransfertAnnul", "TransfertComplet",
    "ZipFile",
};

std::map<std::string, std::string> Messages(const char* file) {
  platform::IniFile ini(kLangDir / file);
  std::map<std::string, std::string> out;
  for (auto& [k, v] : ini.Entries(kMessageSection)) out.emplace(platform::FoldName(k), v);
  return out;
}

TEST(ShippedLanguageFiles, EveryMessageKeyIsPresentInBothWithText) {
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(fs::is_regular_file(kLangDir / file));
    auto messages = Messages(file);
    for (const CatalogKey& k : CatalogKeys()) {
      auto it = messages.find(platform::FoldName(k.key));
      ASSERT_NE(it, messages.end()) << k.key;
      EXPECT_FALSE(it->second.empty()) << k.key;
    }
    for (const char* key : kWindowKeys) {
      auto it = messages.find(platform::FoldName(key));
      ASSERT_NE(it, messages.end()) << key;
      EXPECT_FALSE(it->second.empty()) << key;
    }
    // No key twice: a reader would see only the first.
    EXPECT_EQ(platform::IniFile(kLangDir / file).Keys(kMessageSection).size(), messages.size());
  }
}

TEST(ShippedLanguageFiles, BothFilesHaveTheSameKeys) {
  auto french = Messages("Français.lge");
  auto english = Messages("English.lge");
  std::set<std::string> fr_keys, en_keys;
  for (auto& [k, v] : french) fr_keys.insert(k);
  for (auto& [k, v] : english) en_keys.insert(k);
  EXPECT_EQ(fr_keys, en_keys);
  EXPECT_EQ(platform::IniFile(kLangDir / "Français.lge").Sections(),
            platform::IniFile(kLangDir / "English.lge").Sections());
}

TEST(ShippedLanguageFiles, TextsFitWhereTheyAreJoined) {
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    auto m = Messages(file);
    auto text = [&](const char* key) { return m[platform::FoldName(key)]; };
    // Joined to what follows without a separator.
    EXPECT_TRUE(text("ConfirmSuppr").ends_with(' '));
    EXPECT_TRUE(text("EnterPassword").ends_with(' '));
    EXPECT_TRUE(text("ErrorAccessFolder").ends_with(' '));
    // Followed by " " and a time, a count or a name: no blank of their own.
    for (const char* key : {"Sauve", "Miroir", "DelZip", "FinJournal", "Dossier", "FicSelect", "Rep", "Confirme",
                            "TransfertAnnul", "TransfertComplet", "ErrorAccess", "Effacement"}) {
      EXPECT_FALSE(text(key).ends_with(' ')) << key;
      EXPECT_FALSE(text(key).starts_with(' ')) << key;
    }
    // A tip is "Corvane 3 : " + text + three blanks within 63 characters.
    for (const CatalogKey& k : CatalogKeys()) {
      if (k.key != "Veille" && k.key != "Copie" && k.key != "Scan" && k.key != "ScanMiroir") continue;
      std::string tip = "Corvane 3 : " + text(std::string(k.key).c_str()) + "   ";
      EXPECT_EQ(platform::FirstCharacters(tip, 63), tip) << k.key << " would be cut";
    }
  }
}

TEST(ShippedLanguageFiles, TrayMenuAcceleratorsAreDistinct) {
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    auto m = Messages(file);
    auto accelerator = [&](const char* key) {
      const std::string& t = m[platform::FoldName(key)];
      std::size_t at = t.find('&');
      EXPECT_NE(at, std::string::npos) << key;
      return at == std::string::npos || at + 1 >= t.size() ? std::string() : platform::FoldName(t.substr(at + 1, 1));
    };
    std::set<std::string> menu;
    for (const char* key : {"ESC", "Stop", "Aide", "Show", "StopSauve"})
      EXPECT_TRUE(menu.insert(accelerator(key)).second) << key;
    EXPECT_NE(accelerator("SauveImm"), accelerator("Journal"));  // the folder submenu
  }
}

TEST(ShippedLanguageFiles, ServeTheLanguageMenuAndTheStartUpChoice) {
  auto items = ListLanguages(kLangDir);
  std::set<std::string> captions;
  for (auto& i : items) captions.insert(i.caption);
  EXPECT_TRUE(captions.count("Français"));
  EXPECT_TRUE(captions.count("English"));
  platform::ClearIniCache();
  EXPECT_EQ(ReadMessage(kLangDir, "Svp", "Français").front(), ' ');
  auto d = SelectLanguage(kLangDir, "English", "Français (France)");
  ASSERT_TRUE(std::holds_alternative<LanguageChoice>(d));
  EXPECT_EQ(std::get<LanguageChoice>(d).file_name, "English.lge");
}

}  // namespace
}  // namespace corvane
