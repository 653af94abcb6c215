#include "support/folder_settings.h"

#include <gtest/gtest.h>

#include <cctype>

#include "platform/registry.h"
#include "support/folder_register.h"
#include "util/temp_dir.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::TempDir;
using test::WriteAll;

struct IntegerCase {
  const char* stored;  // nullptr: the key is absent
  std::int64_t expected;
};

class SettingIntegers : public ::testing::TestWithParam<IntegerCase> {};

// Integers and booleans read with the reader's default for anything that is
// not a decimal number; a boolean is true for any number other than 0.
TEST_P(SettingIntegers, ReadWithTheReadersDefault) {
  const IntegerCase& c = GetParam();
  TempDir dir;
  if (c.stored) WriteAll(dir / "f.ini", std::string("[PARAMS]\nV=") + c.stored + "\n");
  FolderSettings s(dir / "f.ini");
  EXPECT_EQ(s.ReadInteger("PARAMS", "V", -99), c.expected);
  bool expected_bool = c.expected == -99 ? true : c.expected != 0;
  EXPECT_EQ(s.ReadBool("PARAMS", "V", true), expected_bool);
}

INSTANTIATE_TEST_SUITE_P(Table, SettingIntegers,
                         ::testing::Values(IntegerCase{"300", 300}, IntegerCase{" 42 ", 42}, IntegerCase{"-7", -7},
                                           IntegerCase{"+5", 5}, IntegerCase{"0", 0}, IntegerCase{"2", 2},
                                           IntegerCase{"", -99}, IntegerCase{"abc", -99}, IntegerCase{"12abc", -99},
                                           IntegerCase{"1.5", -99}, IntegerCase{"99999999999999999999", -99},
                                           IntegerCase{nullptr, -99}),
                         [](const auto& tp) {
                           std::string name = tp.param.stored ? tp.param.stored : "absent";
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return "v" + std::to_string(tp.index) + "_" + name;
                         });

TEST(FolderSettings, DatesAndTimesReadBackWhatWasWrittenAndBadTextGivesTheDefault) {
  TempDir dir;
  FolderSettings s(dir / "f.ini");
  const auto when = *platform::ParseDateTime("15/03/2024 14:05:09");
  ASSERT_TRUE(s.WriteDateTime("PARAMS", "LastSave", when));
  EXPECT_EQ(s.ReadString("PARAMS", "LastSave", ""), "15/03/2024 14:05:09");
  EXPECT_EQ(s.ReadDateTime("PARAMS", "LastSave", {}), when);
  ASSERT_TRUE(s.WriteTime("PARAMS", "HeureSauve", 7h + 2min + 40s));
  EXPECT_EQ(s.ReadString("PARAMS", "HeureSauve", ""), "07:02:40");
  EXPECT_EQ(s.ReadTime("PARAMS", "HeureSauve", 0s), 7h + 2min + 40s);

  const auto fallback = *platform::ParseDateTime("01/01/2001");
  for (const char* bad : {"", "yesterday", "32/01/2024 10:00:00", "15/03/2024 25:00:00"}) {
    ASSERT_TRUE(s.WriteString("PARAMS", "LastSave", bad));
    EXPECT_EQ(s.ReadDateTime("PARAMS", "LastSave", fallback), fallback) << bad;
    ASSERT_TRUE(s.WriteString("PARAMS", "HeureMiroir", bad));
    EXPECT_EQ(s.ReadTime("PARAMS", "HeureMiroir", 9h), 9h) << bad;
  }
  ASSERT_TRUE(s.WriteString("PARAMS", "HeureMiroir", "17:02"));
  EXPECT_EQ(s.ReadTime("PARAMS", "HeureMiroir", 0s), 17h + 2min);
}

TEST(FolderSettings, AFileWithoutParamsReadsAsEveryDefault) {
  TempDir dir;
  WriteAll(dir / "f.ini", "[/home/anne/]\na.txt=0\n");
  FolderSettings s(dir / "f.ini");
  EXPECT_EQ(s.ReadInteger("PARAMS", "TypeSauve", 0), 0);
  EXPECT_FALSE(s.ReadBool("PARAMS", "Journal", false));
  EXPECT_FALSE(s.ReadBool("PARAMS", "SousRep", false));
  EXPECT_EQ(s.ReadString("PARAMS", "Origine", ""), "");
  EXPECT_EQ(s.ReadInteger("PARAMS", "NbMaxFic", 30), 30);
  EXPECT_EQ(s.ReadInteger("/HOME/anne/", "A.TXT", 1), 0);
}

TEST(FolderSettings, WritesUseTheStoredForms) {
  TempDir dir;
  FolderSettings s(dir / "f.ini");
  ASSERT_TRUE(s.WriteBool("PARAMS", "Journal", true));
  ASSERT_TRUE(s.WriteBool("PARAMS", "SousRep", false));
  ASSERT_TRUE(s.WriteInteger("PARAMS", "NbMaxFic", 32000));
  ASSERT_TRUE(s.WriteString("PARAMS", "Sauvegarde reelle", "1"));
  EXPECT_EQ(test::ReadAll(dir / "f.ini"), "[PARAMS]\nJournal=1\nSousRep=0\nNbMaxFic=32000\nSauvegarde reelle=1\n");
  EXPECT_EQ(s.Keys("params"), (std::vector<std::string>{"Journal", "SousRep", "NbMaxFic", "Sauvegarde reelle"}));
  // A key written by hand in another letter case is the same key.
  WriteAll(dir / "g.ini", "[PARAMS]\nSousrep=1\n");
  EXPECT_TRUE(FolderSettings(dir / "g.ini").ReadBool("PARAMS", "SousRep", false));
}

class FolderRegisterTest : public ::testing::Test {
 protected:
  TempDir dir;
  platform::Registry registry{dir / "registry.ini"};
  FolderRegister reg{registry};
};

TEST_F(FolderRegisterTest, ListsTextValuesOfItsKeyInOrderAndNothingElse) {
  ASSERT_TRUE(reg.Write("Documents", dir / "Documents.ini"));
  ASSERT_TRUE(reg.Write("Photos", dir / "Photos.ini"));
  registry.WriteText(platform::RegRoot::CurrentUser, "Software\\Corvane3\\inc", "localisation", "Français");
  registry.WriteInteger(platform::RegRoot::CurrentUser, "Software\\Corvane3", "Layout", 3);
  registry.WriteText(platform::RegRoot::CurrentUser, "Software\\Corvane3", "", "default");
  ASSERT_TRUE(reg.Write("Comptes", dir / "Comptes.ini"));
  auto list = reg.List();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, "Documents");
  EXPECT_EQ(list[1].name, "Photos");
  EXPECT_EQ(list[2].name, "Comptes");
  EXPECT_EQ(list[2].data, (dir / "Comptes.ini").string());
  EXPECT_FALSE(reg.Read("Layout"));
  EXPECT_FALSE(reg.Write("", dir / "x.ini"));
}

TEST_F(FolderRegisterTest, NeverHoldsTwoNamesDifferingOnlyInCase) {
  ASSERT_TRUE(reg.Write("Documents", dir / "a.ini"));
  ASSERT_TRUE(reg.Write("DOCUMENTS", dir / "b.ini"));
  auto list = reg.List();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "Documents");
  EXPECT_EQ(list[0].data, (dir / "b.ini").string());
  EXPECT_TRUE(reg.Contains("documents"));

  ASSERT_TRUE(reg.Write("Photos", dir / "p.ini"));
  EXPECT_EQ(reg.Rename("photos", "DOCUMENTS"), FolderRegister::RenameResult::NameTaken);
  EXPECT_EQ(reg.Rename("documents", "Documents_old"), FolderRegister::RenameResult::Done);
  EXPECT_EQ(reg.Rename("Photos", "PHOTOS"), FolderRegister::RenameResult::Done);
  EXPECT_EQ(reg.Rename("absent", "x"), FolderRegister::RenameResult::Missing);
  list = reg.List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "Documents_old");
  EXPECT_EQ(list[1].name, "PHOTOS");
  EXPECT_TRUE(reg.Delete("photos"));
  EXPECT_FALSE(reg.Delete("photos"));
  EXPECT_EQ(reg.List().size(), 1u);
}

TEST(FolderRegister, AnEntryWhoseDataIsItsNameLivesInTheInstallationDirectory) {
  EXPECT_EQ(SettingsPathOf({"Docs", "Docs"}, "/opt/corvane"), std::filesystem::path("/opt/corvane/Docs.ini"));
  EXPECT_EQ(SettingsPathOf({"Docs", "/home/a/Docs.ini"}, "/opt/corvane"), std::filesystem::path("/home/a/Docs.ini"));
}

}  // namespace
}  // namespace corvane
