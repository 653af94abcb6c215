// create, show, list and delete through the real executable.
#include <map>

#include "cli_fixture.h"
#include "engine/folder_definition.h"
#include "support/stored_secret.h"

namespace corvane::test {
namespace {

// What a save writes when no option changes it.
std::map<std::string, std::string> Defaults(const std::string& name, const fs::path& origin, const fs::path& dest) {
  return {{"Nom", name},          {"TypeSauve", "0"},        {"TypeDelai", "0"},
          {"TypeDesti", "0"},     {"Icone", "0"},            {"Journal", "0"},
          {"SousRep", "0"},       {"Miroir", "0"},           {"SortieWindows", "0"},
          {"Origine", origin.string()}, {"Destination", dest.string()}, {"DelaiSauve", "30"},
          {"HeureSauve", "07:02:40"}, {"EffaceArchive", "07:02:40"}, {"JourSauve", "0"},
          {"HeureMiroir", "17:02:40"}, {"FTPUser", ""},         {"FTPPass", ""},
          {"Cryptage", ""},       {"PasswordZip", ""},       {"NbMaxFic", "300"},
          {"NbMaxFicMin", "30"},  {"VolumeMax", "10"},       {"TauxZip", "9"},
          {"NbJoursValideZip", "0"}, {"DelaiMiroir", "3"},   {"PlugInn", ""}};
}

struct CreateCase {
  std::string label;
  std::vector<std::string> args;                 // besides name and origin
  bool own_destination;                          // args give --destination
  std::map<std::string, std::string> expected;   // keys that differ from the defaults
  std::map<std::string, std::string> secrets;    // enciphered keys, in clear
};
void PrintTo(const CreateCase& c, std::ostream* os) { *os << c.label; }

const std::vector<CreateCase>& CreateCases() {
  static const std::vector<CreateCase> cases = {
      {"copy", {}, false, {}, {}},
      {"zip", {"--kind", "zip", "--level", "6", "--journal"}, false,
       {{"TypeSauve", "1"}, {"TauxZip", "6"}, {"Journal", "1"}}, {}},
      {"crypt", {"--kind", "crypt", "--key-file", "@key"}, false, {{"TypeSauve", "2"}},
       {{"Cryptage", "clef secrète"}}},
      {"zipcrypt", {"--kind", "zip-crypt", "--key-file", "@key", "--level", "0", "--subfolders", "--every", "1440"},
       false, {{"TypeSauve", "3"}, {"TauxZip", "0"}, {"SousRep", "1"}, {"DelaiSauve", "1440"}},
       {{"Cryptage", "clef secrète"}}},
      {"archive", {"--kind", "archive", "--zip-password-file", "@zip", "--validity", "30", "--purge-at", "22:15"},
       false, {{"TypeSauve", "4"}, {"NbJoursValideZip", "12"}, {"EffaceArchive", "22:15:00"}},
       {{"PasswordZip", "zip pass"}}},
      {"cryptarchive", {"--kind", "crypt-archive", "--key-file", "@key", "--at", "23:05", "--day", "sun", "--validity", "7"},
       false, {{"TypeSauve", "5"}, {"TypeDelai", "1"}, {"HeureSauve", "23:05:00"}, {"JourSauve", "7"},
               {"NbJoursValideZip", "7"}},
       {{"Cryptage", "clef secrète"}}},
      {"ftp", {"--dest-type", "ftp", "--destination", "ftp.example.org/docs/", "--ftp-user", "bob",
               "--ftp-password-file", "@ftp", "--every", "90"},
       true, {{"TypeDesti", "2"}, {"Destination", "ftp.example.org/docs/"}, {"FTPUser", "bob"}, {"DelaiSauve", "90"}},
       {{"FTPPass", "ftp:pass"}}},
      {"network", {"--dest-type", "network", "--mirror-at", "18:30", "--mirror-days", "7", "--max-files", "1000",
                   "--max-files-per-minute", "50", "--max-mb", "32000", "--at", "06:00", "--day", "28"},
       false, {{"TypeDesti", "1"}, {"Miroir", "1"}, {"HeureMiroir", "18:30:00"}, {"DelaiMiroir", "7"},
               {"NbMaxFic", "1000"}, {"NbMaxFicMin", "50"}, {"VolumeMax", "32000"}, {"TypeDelai", "1"},
               {"HeureSauve", "06:00:00"}, {"JourSauve", "35"}},
       {}},
  };
  return cases;
}

class CreateTest : public CliTest, public ::testing::WithParamInterface<CreateCase> {};

// Every key the editor writes, in its order, with the value it would write.
TEST_P(CreateTest, WritesTheEditorsKeysInItsOrder) {
  const CreateCase& c = GetParam();
  WriteAll(dir / "key", "clef secrète\n");
  WriteAll(dir / "zip", "zip pass\r\n");
  WriteAll(dir / "ftp", "ftp:pass");
  std::vector<std::string> args = {"create", c.label, "--origin", origin.string()};
  if (!c.own_destination) args.insert(args.end(), {"--destination", dest.string()});
  for (const auto& a : c.args) args.push_back(a.rfind('@', 0) == 0 ? (dir / a.substr(1)).string() : a);
  auto r = Cli(args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find(Mess("CliDossierCree")), std::string::npos) << r.err;

  auto expected = Defaults(c.label, origin, dest);
  for (const auto& [k, v] : c.expected) expected[k] = v;
  platform::ClearIniCache();
  const auto entries = FolderSettings(SettingsOf(c.label)).Entries(kSectionParams);
  std::vector<std::string> keys;
  for (const auto& [k, v] : entries) {
    keys.push_back(k);
    if (c.secrets.count(k)) {
      EXPECT_NE(v, c.secrets.at(k)) << k << " stored in clear";
      EXPECT_EQ(v, EncryptSetting(c.secrets.at(k))) << k;
    } else {
      EXPECT_EQ(v, expected[k]) << k;
    }
  }
  EXPECT_EQ(keys, std::vector<std::string>(EditorKeys().begin(), EditorKeys().end()));
  EXPECT_EQ(FolderSettings(SettingsOf(c.label)).Sections(), std::vector<std::string>{"PARAMS"});

  auto reg = Registry();
  EXPECT_EQ(FolderRegister(reg).Read(c.label), SettingsOf(c.label).string());
  // The file is private: it holds the secrets.
  EXPECT_EQ(fs::status(SettingsOf(c.label)).permissions() & fs::perms::group_read, fs::perms::none);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CreateTest, ::testing::ValuesIn(CreateCases()),
                         [](const auto& tp) { return tp.param.label; });

struct RefusalCase {
  std::string label;
  std::vector<std::string> args;  // after "create"; @o and @d stand for origin and destination
  std::string key;                // message expected on standard error
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.label; }

class CreateRefusalTest : public CliTest, public ::testing::WithParamInterface<RefusalCase> {};

// A refused folder writes nothing: no settings file, no register entry.
TEST_P(CreateRefusalTest, ExitsOneWithTheEditorsMessageAndWritesNothing) {
  const RefusalCase& c = GetParam();
  CreateFolder("Docs");
  const std::string before = ReadAll(SettingsOf("Docs"));
  std::vector<std::string> args = {"create"};
  for (const auto& a : c.args) args.push_back(a == "@o" ? origin.string() : a == "@d" ? dest.string() : a);
  auto r = Cli(args);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find(Mess(c.key)), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(SettingsOf("Docs")), before);
  EXPECT_EQ(Listing(home), (std::set<std::string>{"Docs.ini", "English.lge", "Français.lge"}));
  auto reg = Registry();
  EXPECT_EQ(FolderRegister(reg).List().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, CreateRefusalTest,
    ::testing::ValuesIn(std::vector<RefusalCase>{
        {"EmptyName", {"", "--origin", "@o", "--destination", "@d"}, "ErreurNoName"},
        {"NameTakenInAnotherCase", {"docs", "--origin", "@o", "--destination", "@d"}, "ErreurNomDossier"},
        {"NameThatEscapesItsFolder", {"../evil", "--origin", "@o", "--destination", "@d"}, "ErreurNomFichier"},
        {"NoOrigin", {"New", "--destination", "@d"}, "ErreurOrigine"},
        {"NoDestination", {"New", "--origin", "@o"}, "ErreurDesti"},
        {"EncryptedWithoutKey", {"New", "--origin", "@o", "--destination", "@d", "--kind", "zip-crypt"},
         "ErreurCryptkey"},
        {"ArchiveEncryptedWithoutKey", {"New", "--origin", "@o", "--destination", "@d", "--kind", "crypt-archive"},
         "ErreurCryptkey"},
        {"UnknownKind", {"New", "--origin", "@o", "--destination", "@d", "--kind", "tar"}, "CliValeurIncorrecte"},
        {"LevelOutOfRange", {"New", "--origin", "@o", "--destination", "@d", "--level", "10"}, "CliValeurIncorrecte"},
        {"ValidityNotInTheList", {"New", "--origin", "@o", "--destination", "@d", "--validity", "11"},
         "CliValeurIncorrecte"},
        {"NeverDue", {"New", "--origin", "@o", "--destination", "@d", "--every", "0"}, "CliValeurIncorrecte"},
        {"BadTime", {"New", "--origin", "@o", "--destination", "@d", "--at", "25:00"}, "CliValeurIncorrecte"},
        {"DayOutOfRange", {"New", "--origin", "@o", "--destination", "@d", "--at", "10:00", "--day", "29"},
         "CliValeurIncorrecte"},
        {"EveryAndAt", {"New", "--origin", "@o", "--destination", "@d", "--every", "5", "--at", "10:00"},
         "CliOptionsExclusives"},
        {"DayWithoutAt", {"New", "--origin", "@o", "--destination", "@d", "--day", "mon"}, "CliOptionRequiert"},
        {"MirrorOfAnArchive", {"New", "--origin", "@o", "--destination", "@d", "--kind", "archive", "--mirror-at",
                               "10:00"},
         "CliMiroirImpossible"},
        {"SecretFileMissing", {"New", "--origin", "@o", "--destination", "@d", "--kind", "crypt", "--key-file",
                               "/nonexistent/key"},
         "CliFichierIllisible"},
        {"SecretOnTheCommandLine", {"New", "--origin", "@o", "--destination", "@d", "--key", "abc"},
         "CliOptionInconnue"},
        {"MissingValue", {"New", "--origin"}, "CliValeurManquante"},
    }),
    [](const auto& tp) { return tp.param.label; });

TEST_F(CliTest, RelativePathsAreStoredAbsoluteWithoutFinalSlash) {
  auto r = RunCommandCapture({"/bin/sh", "-c",
                              "cd '" + dir.path().string() + "' && '" + CORVANE_CLI +
                                  "' create Rel --origin origin/ --destination ./dest//"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Param("Rel", "Origine"), origin.string());
  EXPECT_EQ(Param("Rel", "Destination"), dest.string());
}

TEST_F(CliTest, ShowNeverPrintsSecretsInClear) {
  WriteAll(dir / "key", "tres-secret");
  CreateFolder("Docs", {"--kind", "crypt", "--key-file", (dir / "key").string()});
  auto r = Cli({"show", "docs"});  // any letter case finds the folder
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.find("tres-secret"), std::string::npos);
  EXPECT_EQ(r.out.find(EncryptSetting("tres-secret")), std::string::npos);
  EXPECT_NE(r.out.find("Cryptage=" + Mess("CliSecretDefini")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PasswordZip=" + Mess("CliSecretVide")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Origine=" + origin.string()), std::string::npos) << r.out;
  EXPECT_EQ(Cli({"show", "Nope"}).exit_code, 1);
}

TEST_F(CliTest, ListShowsEveryFolderInRegisterOrder) {
  CreateFolder("Zeta", {"--every", "15"});
  WriteAll(dir / "key", "k");
  CreateFolder("Alpha", {"--kind", "crypt-archive", "--key-file", (dir / "key").string(), "--at", "08:30", "--day",
                         "mon"});
  CreateFolder("Mid", {"--at", "21:00", "--day", "3"});
  FolderSettings(SettingsOf("Alpha")).WriteString(kSectionParams, "Encours", "1");
  auto r = Cli({"list"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string d = dest.string();
  EXPECT_EQ(r.out, "Zeta\t" + Mess("ClassicSave") + "\t" + d + "\tToutes les 15 mn\t" + Mess("CliInactif") + "\n" +
                       "Alpha\t" + Mess("CryptArch") + "\t" + d + "\tLundi à 08:30\t" + Mess("CliEnCours") + "\n" +
                       "Mid\t" + Mess("ClassicSave") + "\t" + d + "\tLe 3 à 21:00\t" + Mess("CliInactif") + "\n");
}

TEST_F(CliTest, DeleteRemovesFileAndEntryButKeepsJournalsAndBackups) {
  CreateFolder("Docs");
  CreateFolder("Other");
  fs::create_directories(logs);
  WriteAll(logs / "2024_03_15 Docs.jcv", "line\r\n");
  WriteAll(dest / "copy.txt", "backup");
  auto r = Cli({"delete", "Docs"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(fs::exists(SettingsOf("Docs")));
  auto reg = Registry();
  FolderRegister folders(reg);
  EXPECT_FALSE(folders.Contains("Docs"));
  EXPECT_TRUE(folders.Contains("Other"));
  EXPECT_TRUE(fs::exists(logs / "2024_03_15 Docs.jcv"));
  EXPECT_TRUE(fs::exists(dest / "copy.txt"));
  auto again = Cli({"delete", "Docs"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find(Mess("CliDossierInconnu")), std::string::npos);
}

// A folder the tool made opens with the editor's reading of the file, and a
// second save over it keeps what others wrote there.
TEST_F(CliTest, SaveOverAnExistingFolderKeepsOtherKeysAndSections) {
  CreateFolder("Docs", {"--every", "10"});
  FolderSettings s(SettingsOf("Docs"));
  s.WriteString("EXTENSIONS", "doc", "1");
  s.WriteString(kSectionParams, "LastSave", "01/02/2024 10:00:00");
  auto reg = Registry();
  FolderRegister folders(reg);
  platform::ClearIniCache();
  FolderDefinition def = ReadFolderDefinition(FolderSettings(SettingsOf("Docs")));
  EXPECT_EQ(def.delai_sauve, 10);
  EXPECT_EQ(def.origine, origin.string());
  EXPECT_EQ(CheckFolder(def, false, folders, home), FolderCheck::Ok);
  EXPECT_EQ(CheckFolder(def, true, folders, home), FolderCheck::ErreurNomDossier);
  def.delai_sauve = 45;
  ASSERT_EQ(SaveFolder(def, folders, home, home), SettingsOf("Docs"));
  platform::ClearIniCache();
  FolderSettings after(SettingsOf("Docs"));
  EXPECT_EQ(after.ReadString(kSectionParams, "DelaiSauve", ""), "45");
  EXPECT_EQ(after.ReadString(kSectionParams, "LastSave", ""), "01/02/2024 10:00:00");
  EXPECT_EQ(after.ReadString("EXTENSIONS", "doc", ""), "1");
  EXPECT_EQ(folders.List().size(), 1u);
}

TEST(FolderDefinitionRules, CompressionSliderAndValidityList) {
  EXPECT_EQ(StoredCompressionRate(6), 9);
  for (int p : {0, 5, 7, 9}) EXPECT_EQ(StoredCompressionRate(p), p);
  for (int position = 0; position < kValiditePositions; ++position)
    EXPECT_EQ(ValidityPosition(ValidityDays(position)), position);
  EXPECT_EQ(ValidityDays(16), 365);
  for (int days : {-1, 11, 14, 31, 366}) EXPECT_FALSE(ValidityPosition(days)) << days;
}

}  // namespace
}  // namespace corvane::test
