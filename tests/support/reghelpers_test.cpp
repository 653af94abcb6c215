#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "support/registry_helpers.h"
#include "util/temp_dir.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using namespace std::string_literals;
using platform::RegRoot;

class RegHelpers : public ::testing::Test {
 protected:
  test::TempDir dir_;
  platform::Registry reg_{dir_ / "store" / "registry.ini"};
  const std::string key_ = "Software\\Corvane3\\inc";
};

TEST_F(RegHelpers, ReadStringRules) {
  struct {
    std::string stored;
    std::string read;
  } cases[] = {
      {"C:\\Backups\\docs.ini", "C:\\Backups\\docs.ini"},
      {"\"", ""},                 // a lone double quote means nothing stored
      {"\"\"", "\"\""},
      {" \"", " \""},
      {"before\0after"s, "before"},  // text ends at the first NUL
      {"", ""},
      {"fran\xC3\xA7" "ais", "fran\xC3\xA7" "ais"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(reg_.WriteText(RegRoot::CurrentUser, key_, "value", c.stored));
    EXPECT_EQ(RegReadString(reg_, RegRoot::CurrentUser, key_, "value"), c.read) << c.stored;
  }
  EXPECT_EQ(RegReadString(reg_, RegRoot::CurrentUser, key_, "missing"), "");
  ASSERT_TRUE(reg_.WriteInteger(RegRoot::CurrentUser, key_, "number", 49));
  EXPECT_EQ(RegReadString(reg_, RegRoot::CurrentUser, key_, "number"), "") << "not a text value";
  // The other root is another store.
  EXPECT_EQ(RegReadString(reg_, RegRoot::ClassesRoot, key_, "value"), "");
}

TEST_F(RegHelpers, ReadIntegerRules) {
  EXPECT_EQ(RegReadInteger(reg_, RegRoot::CurrentUser, key_, "DelaiJcv", 30), 30);
  EXPECT_EQ(RegReadInteger(reg_, RegRoot::CurrentUser, key_, "DelaiJcv", -5), -5);
  ASSERT_TRUE(reg_.WriteInteger(RegRoot::CurrentUser, key_, "DelaiJcv", 7));
  EXPECT_EQ(RegReadInteger(reg_, RegRoot::CurrentUser, key_, "delaijcv", 30), 7) << "names ignore case";
  ASSERT_TRUE(reg_.WriteInteger(RegRoot::CurrentUser, key_, "Couleur1", 0xFFFFFFFFu));
  EXPECT_EQ(RegReadInteger(reg_, RegRoot::CurrentUser, key_, "Couleur1", 0), -1);
  ASSERT_TRUE(reg_.WriteText(RegRoot::CurrentUser, key_, "Texte", "42"));
  EXPECT_EQ(RegReadInteger(reg_, RegRoot::CurrentUser, key_, "Texte", 3), 3) << "text is not an integer";
}

TEST_F(RegHelpers, HelpersCreateTheirKey) {
  const std::string a = "Software\\Corvane3\\a", b = "Software\\Corvane3\\b", c = "Software\\Corvane3\\c";
  RegReadString(reg_, RegRoot::CurrentUser, a, "x");
  RegReadInteger(reg_, RegRoot::CurrentUser, b, "x", 0);
  EXPECT_TRUE(reg_.KeyExists(RegRoot::CurrentUser, a));
  EXPECT_TRUE(reg_.KeyExists(RegRoot::CurrentUser, b));
  EXPECT_FALSE(reg_.KeyExists(RegRoot::CurrentUser, c));
  EXPECT_TRUE(reg_.ValueNames(RegRoot::CurrentUser, a).empty());
}

TEST_F(RegHelpers, WriteString) {
  EXPECT_TRUE(RegWriteString(reg_, RegRoot::ClassesRoot, ".ccv", "", "Corvane3.Container"));
  auto def = reg_.Read(RegRoot::ClassesRoot, ".ccv", "");
  ASSERT_TRUE(def);
  EXPECT_EQ(def->text, "Corvane3.Container");
  EXPECT_TRUE(reg_.ValueNames(RegRoot::ClassesRoot, ".ccv").empty()) << "the default value has no name";

  EXPECT_TRUE(RegWriteString(reg_, RegRoot::CurrentUser, key_, "localisation", "cut\0here"s));
  EXPECT_EQ(RegReadString(reg_, RegRoot::CurrentUser, key_, "localisation"), "cut");

  // An empty text is a stored empty string, not a missing value.
  EXPECT_TRUE(RegWriteString(reg_, RegRoot::CurrentUser, key_, "Password", ""));
  auto empty = reg_.Read(RegRoot::CurrentUser, key_, "Password");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->type, platform::RegValue::Type::Text);
  EXPECT_EQ(empty->text, "");
}

TEST(DirectoryExists, Cases) {
  test::TempDir dir;
  fs::create_directory(dir / "logs");
  test::WriteAll(dir / "file", "x");
  fs::create_directory_symlink(dir / "logs", dir / "link");
  fs::create_symlink(dir / "gone", dir / "dangling");
  struct {
    fs::path path;
    bool exists;
  } cases[] = {{dir.path(), true},     {dir / "logs", true},     {dir / "logs/", true}, {dir / "link", true},
               {dir / "file", false},  {dir / "missing", false}, {dir / "dangling", false}, {"", false}};
  for (const auto& c : cases) EXPECT_EQ(DirectoryExists(c.path), c.exists) << c.path;
}

}  // namespace
}  // namespace corvane
