// Every reader survives deliberately broken settings files with its
// defaults, and a write into such a file loses none of what could be read.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ini_file.h"
#include "support/folder_settings.h"
#include "util/temp_dir.h"

namespace corvane {
namespace {

std::vector<std::filesystem::path> BrokenFiles() {
  std::vector<std::filesystem::path> files;
  for (auto& e : std::filesystem::directory_iterator(CORVANE_TEST_DATA "/broken/settings")) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(BrokenSettings, ReadersGiveDefaultsAndWritesKeepWhatWasReadable) {
  auto files = BrokenFiles();
  ASSERT_GE(files.size(), 10u);
  for (const auto& original : files) {
    SCOPED_TRACE(original.filename().string());
    test::TempDir dir;
    auto path = dir / "f.ini";
    std::filesystem::copy_file(original, path);
    FolderSettings s(path);
    std::int64_t type = s.ReadInteger("PARAMS", "TypeSauve", 0);
    EXPECT_TRUE(type >= 0 || type == -99);
    EXPECT_EQ(s.ReadInteger("PARAMS", "NbMaxFic", 30), 30);
    (void)s.ReadBool("PARAMS", "Journal", false);
    (void)s.ReadDateTime("PARAMS", "LastSave", {});
    (void)s.ReadTime("PARAMS", "HeureSauve", {});

    platform::ClearIniCache();
    auto before = platform::IniFile(path).Snapshot();
    ASSERT_TRUE(s.WriteString("PARAMS", "Encours", "1"));
    platform::ClearIniCache();
    EXPECT_EQ(s.ReadString("PARAMS", "Encours", ""), "1");
    auto after = platform::IniFile(path).Snapshot();
    for (const auto& section : before->SectionNames()) {
      auto old_entries = before->Entries(section);
      auto new_entries = after->Entries(section);
      if (platform::NamesEqual(section, "PARAMS")) {
        std::erase_if(new_entries, [](auto& e) { return e.first == "Encours"; });
        std::erase_if(old_entries, [](auto& e) { return e.first == "Encours"; });
      }
      EXPECT_EQ(old_entries, new_entries) << section;
    }
  }
}

TEST(BrokenSettings, KnownDamageReadsAsExpected) {
  FolderSettings truncated(CORVANE_TEST_DATA "/broken/settings/truncated.ini");
  EXPECT_EQ(truncated.ReadString("PARAMS", "Origine", ""), "/home/an");
  FolderSettings cr(CORVANE_TEST_DATA "/broken/settings/cr_only.ini");
  EXPECT_EQ(cr.ReadInteger("PARAMS", "TypeSauve", 0), 1);
  FolderSettings dup(CORVANE_TEST_DATA "/broken/settings/duplicates.ini");
  EXPECT_EQ(dup.ReadString("PARAMS", "Nom", ""), "first");
  FolderSettings numbers(CORVANE_TEST_DATA "/broken/settings/bad_numbers.ini");
  EXPECT_EQ(numbers.ReadInteger("PARAMS", "TypeSauve", 0), 0);
  EXPECT_FALSE(numbers.ReadBool("PARAMS", "Journal", false));
  EXPECT_EQ(numbers.ReadInteger("PARAMS", "NbMaxFic", 30), 30);
  FolderSettings brackets(CORVANE_TEST_DATA "/broken/settings/brackets.ini");
  EXPECT_EQ(brackets.ReadInteger("PARAMS]", "TypeSauve", 0), 4);
}

}  // namespace
}  // namespace corvane
