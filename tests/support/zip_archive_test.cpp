#include "support/zip_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "util/process.h"
#include "util/zip_check.h"
#include "util/temp_dir.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

// Every file and folder below `root`, relative; empty when it is missing.
std::vector<std::string> Tree(const fs::path& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
    out.push_back(fs::relative(it->path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string Rel(const fs::path& p) { return EntryOf(p); }

class ZipTest : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path src = dir / "src";
  fs::path zip = dir / "out" / "a.zip";
  void SetUp() override {
    fs::create_directories(src / "Docs" / "2024");
    fs::create_directories(zip.parent_path());
  }
  fs::path Make(const std::string& rel, const std::string& content) {
    WriteAll(src / rel, content);
    return src / rel;
  }
  static std::string Text(std::size_t n) {
    std::string s;
    while (s.size() < n) s += "the quick brown fox jumps over the lazy dog " + std::to_string(s.size() % 97) + "\n";
    return s.substr(0, n);
  }
};

struct AddCase {
  int level;
  std::string password;
};

void PrintTo(const AddCase& c, std::ostream* os) { *os << "level " << c.level << " password \"" << c.password << '"'; }

class ZipAdd : public ZipTest, public ::testing::WithParamInterface<AddCase> {};

// Whatever the level and password, the archive passes `unzip -t`, opens in
// Python with the full-path entry names and gives back every byte; deflate
// is used except at level 0 and for already-compressed names.
TEST_P(ZipAdd, ArchivesOpenInOtherReadersWithTheirPathsAndContent) {
  const auto& c = GetParam();
  auto a = Make("Docs/a.txt", Text(20000));
  auto b = Make("Docs/2024/photo.PNG", Text(5000));
  auto e = Make("empty.txt", "");
  AddFilesToZip(zip, {a, b, e}, {c.level, true, c.password});

  EXPECT_EQ(UnzipTest(zip, c.password), 0);
  auto entries = PyRead(zip, c.password);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  const std::vector<std::pair<fs::path, std::string>> expected = {
      {a, Text(20000)}, {b, Text(5000)}, {e, ""}};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& got = (*entries)[i];
    EXPECT_EQ(got.name, Rel(expected[i].first));
    EXPECT_EQ(got.content, Hex(expected[i].second)) << got.name;
    EXPECT_EQ(got.encrypted, !c.password.empty());
  }
  EXPECT_EQ((*entries)[0].method, c.level == 0 ? 0 : 8);
  EXPECT_EQ((*entries)[1].method, 0) << "already-compressed names are stored";
  if (c.level >= 6) {
    EXPECT_LT((*entries)[0].compressed, 20000u / 3) << "deflate did its work";
  }

  if (!c.password.empty()) {
    EXPECT_NE(UnzipTest(zip), 0) << "no password";
    EXPECT_NE(UnzipTest(zip, c.password + "x"), 0) << "wrong password";
    EXPECT_FALSE(PyRead(zip)) << "Python without the password";
    EXPECT_FALSE(PyRead(zip, "wrong"));
  }
}

INSTANTIATE_TEST_SUITE_P(LevelsAndPasswords, ZipAdd,
                         ::testing::Values(AddCase{0, ""}, AddCase{1, ""}, AddCase{9, ""}, AddCase{0, "s3cret"},
                                           AddCase{9, "mot de passe é"}));

TEST_F(ZipTest, EntryNamesAndAlreadyCompressedEndings) {
  EXPECT_EQ(ZipEntryName("/home/anne/Docs/a.txt", true), "home/anne/Docs/a.txt");
  EXPECT_EQ(ZipEntryName("/home/anne/Docs/a.txt", false), "a.txt");
  EXPECT_EQ(ZipEntryName("/home/anne/../bob/./b.txt", true), "home/bob/b.txt");
  for (const char* name : {"a.gif", "b.PNG", "c.Z", "d.tar.gz", "e.zip", "f.jar", "g.gzip", "h.tgz", "i.cab"})
    EXPECT_TRUE(IsAlreadyCompressed(name)) << name;
  for (const char* name : {"a.txt", "zip", "b.gzipped", "c.png.txt", ".gz"}) EXPECT_FALSE(IsAlreadyCompressed(name)) << name;
}

TEST_F(ZipTest, AddingToAnArchiveReplacesEntriesOfTheSameName) {
  auto a = Make("Docs/a.txt", "first");
  auto b = Make("Docs/b.txt", "bee");
  AddFilesToZip(zip, {a, b}, {});
  WriteAll(a, "second version");
  AddFilesToZip(zip, {a}, {});
  // Bare names sit beside the full-path ones; a name twice in one list is
  // stored once.
  AddFilesToZip(zip, {b, b}, {9, false, ""});
  auto entries = PyRead(zip);
  ASSERT_TRUE(entries);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& e : *entries) got.push_back({e.name, e.content});
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {Rel(a), Hex("second version")}, {Rel(b), Hex("bee")}, {"b.txt", Hex("bee")}}));
  EXPECT_EQ(UnzipTest(zip), 0);
}

TEST_F(ZipTest, ListingGivesSizesAndDosTimesAsOtherReadersSeeThem) {
  EXPECT_TRUE(ListZipEntries(dir / "missing.zip").empty());
  auto a = Make("Docs/a.txt", Text(3000));
  auto b = Make("Docs/2024/b.gz", "not really gzip");
  // A local time on an odd second: DOS keeps two-second steps.
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 15;
  tm.tm_hour = 14;
  tm.tm_min = 30;
  tm.tm_sec = 17;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  fs::last_write_time(a, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(t)));
  AddFilesToZip(zip, {a, b}, {9, true, "pw"});
  auto list = ListZipEntries(zip);
  auto py = PyRead(zip, "pw");
  ASSERT_TRUE(py);
  ASSERT_EQ(list.size(), py->size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].name, (*py)[i].name);
    EXPECT_EQ(list[i].size, (*py)[i].size);
    EXPECT_EQ(list[i].compressed_size, (*py)[i].compressed);
    EXPECT_TRUE(list[i].encrypted);
    const auto& d = list[i];
    std::string when = std::to_string(((d.dos_date >> 9) & 0x7F) + 1980) + "-" + std::to_string((d.dos_date >> 5) & 15) +
                       "-" + std::to_string(d.dos_date & 31) + "-" + std::to_string(d.dos_time >> 11) + "-" +
                       std::to_string((d.dos_time >> 5) & 63) + "-" + std::to_string((d.dos_time & 31) * 2);
    EXPECT_EQ(when, (*py)[i].when) << d.name;
  }
  EXPECT_EQ((*py)[0].when, "2024-3-15-14-30-16");
  EXPECT_EQ(std::chrono::system_clock::to_time_t(list[0].Modified()), t - 1);
  EXPECT_EQ(list[1].compressed_size, list[1].size + 12) << "stored, plus the 12-byte encryption header";
}

TEST_F(ZipTest, DeletingNamedEntries) {
  auto a = Make("Docs/a.txt", "a");
  auto b = Make("Docs/b.txt", "b");
  auto c = Make("Docs/2024/c.txt", "c");
  AddFilesToZip(zip, {a, b, c}, {});
  DeleteZipEntries(zip, {Rel(a), Rel(c)});
  auto py = PyRead(zip);
  ASSERT_TRUE(py);
  ASSERT_EQ(py->size(), 1u);
  EXPECT_EQ((*py)[0].name, Rel(b));
  // An unknown name deletes nothing at all.
  const std::string before = ReadAll(zip);
  EXPECT_THROW(DeleteZipEntries(zip, {Rel(b), "no/such/entry"}), ZipError);
  EXPECT_EQ(ReadAll(zip), before);
  EXPECT_THROW(DeleteZipEntries(dir / "missing.zip", {"x"}), ZipError);
  // The last entry gone, the archive goes too.
  DeleteZipEntries(zip, {Rel(b)});
  EXPECT_FALSE(fs::exists(zip));
  EXPECT_TRUE(ListZipEntries(zip).empty());
}

TEST_F(ZipTest, ExtractingWithAndWithoutFolderNamesReplacesFiles) {
  auto a = Make("Docs/a.txt", "alpha");
  auto b = Make("Docs/2024/a.txt", "second alpha");
  auto c = Make("Docs/c.txt", "charlie");
  const auto old = fs::last_write_time(c) - std::chrono::hours(100);
  fs::last_write_time(c, old);
  AddFilesToZip(zip, {a, b, c}, {});
  const fs::path out = dir / "restore";
  ExtractZipEntries(zip, {Rel(c), Rel(b)}, out, {true, "", {}, 4});
  EXPECT_EQ(ReadAll(out / Rel(c)), "charlie");
  EXPECT_EQ(ReadAll(out / Rel(b)), "second alpha");
  EXPECT_FALSE(fs::exists(out / Rel(a)));
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(fs::last_write_time(out / Rel(c)) - old).count() / 2, 0)
      << "the entry's time, to DOS's two seconds";

  // Without folder names both a.txt land on one file; the last one wins,
  // replacing what was there.
  const fs::path flat = dir / "flat";
  fs::create_directories(flat);
  WriteAll(flat / "a.txt", "old content");
  ExtractZipEntries(zip, {Rel(a), Rel(b)}, flat, {false, "", {}, 4});
  EXPECT_EQ(Listing(flat), (std::set<std::string>{"a.txt"}));
  EXPECT_EQ(ReadAll(flat / "a.txt"), "second alpha");

  EXPECT_THROW(ExtractZipEntries(zip, {"no/such/entry"}, flat, {}), ZipError);
}

TEST_F(ZipTest, ExtractionAsksForThePasswordWithinItsBudget) {
  auto a = Make("Docs/a.txt", Text(4000));
  AddFilesToZip(zip, {a}, {9, true, "right"});
  struct Prompt {
    std::vector<std::string> answers;
    std::vector<std::string> asked;
    bool Ask(const std::string& entry, std::string& password) {
      asked.push_back(entry);
      if (asked.size() > answers.size()) return false;
      password = answers[asked.size() - 1];
      return true;
    }
  };
  // Missing, then wrong, then right.
  Prompt p{{"wrong", "right"}, {}};
  const fs::path out = dir / "restore";
  ExtractZipEntries(zip, {}, out,
                    {true, "", [&](const std::string& e, std::string& pw) { return p.Ask(e, pw); }, 4});
  EXPECT_EQ(p.asked, (std::vector<std::string>{Rel(a), Rel(a)}));
  EXPECT_EQ(ReadAll(out / Rel(a)), Text(4000));

  // Never right: the prompts stop at the budget and the file is not written.
  Prompt never{{"x1", "x2", "x3", "x4", "x5", "x6"}, {}};
  const fs::path out2 = dir / "restore2";
  EXPECT_THROW(ExtractZipEntries(zip, {}, out2,
                                 {true, "", [&](const std::string& e, std::string& pw) { return never.Ask(e, pw); }, 4}),
               ZipError);
  EXPECT_EQ(never.asked.size(), 4u);
  EXPECT_FALSE(fs::exists(out2 / Rel(a)));
  // No prompt at all: the wrong password is an error.
  EXPECT_THROW(ExtractZipEntries(zip, {}, out2, {true, "nope", {}, 4}), ZipError);
  // The given password needs no prompt.
  ExtractZipEntries(zip, {}, out2, {true, "right", {}, 4});
  EXPECT_EQ(ReadAll(out2 / Rel(a)), Text(4000));
}

TEST_F(ZipTest, ArchivesOfTheZipToolExtract) {
  auto a = Make("Docs/a.txt", Text(9000));
  const fs::path made = dir / "tool.zip";
  ASSERT_EQ(RunCommand({"/usr/bin/zip", "-q", "-j", "-P", "tool pw", made.string(), a.string()}).exit_code, 0);
  std::string pw = "tool pw";
  ExtractZipEntries(made, {"a.txt"}, dir / "x", {true, pw, {}, 4});
  EXPECT_EQ(ReadAll(dir / "x" / "a.txt"), Text(9000));
}

// Hostile names are refused before anything is written, wherever they sit
// in the archive and whether or not folder names are kept.
TEST_F(ZipTest, EntriesThatWouldLeaveTheBaseFolderAreRefused) {
  const fs::path broken = fs::path(CORVANE_TEST_DATA) / "broken" / "zip";
  int hostile = 0;
  for (const char* name : {"dotdot.zip", "dotdot-nested.zip", "dotdot-backslash.zip", "absolute.zip",
                           "absolute-backslash.zip", "drive.zip"}) {
    ++hostile;
    for (bool keep : {true, false}) {
      const fs::path out = dir / ("x" + std::to_string(hostile) + (keep ? "k" : "f")) / "base";
      try {
        ExtractZipEntries(broken / name, {}, out, {keep, "", {}, 4});
        ADD_FAILURE() << name << " was extracted";
      } catch (const ZipError& e) {
        EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
      }
      EXPECT_EQ(Tree(out.parent_path()), std::vector<std::string>{}) << name;
    }
  }
  EXPECT_FALSE(fs::exists("/tmp/corvane-evil.txt"));
  for (const char* name : {"not-a-zip.zip", "truncated.zip"}) {
    EXPECT_THROW(ListZipEntries(broken / name), ZipError) << name;
    EXPECT_THROW(ExtractZipEntries(broken / name, {}, dir / "y", {}), ZipError) << name;
  }
}

TEST_F(ZipTest, AFailedWriteLeavesNoPartialArchive) {
  auto a = Make("Docs/a.txt", "a");
  // A new archive: nothing under its name, no temporary left.
  EXPECT_THROW(AddFilesToZip(zip, {a, src / "missing.txt"}, {}), ZipError);
  EXPECT_TRUE(Listing(zip.parent_path()).empty());
  // An existing archive stays as it was.
  AddFilesToZip(zip, {a}, {});
  const std::string before = ReadAll(zip);
  EXPECT_THROW(AddFilesToZip(zip, {src / "Docs"}, {}), ZipError) << "a folder is not a file";
  EXPECT_THROW(AddFilesToZip(zip, {a}, {10, true, ""}), ZipError);
  EXPECT_EQ(ReadAll(zip), before);
  EXPECT_EQ(Listing(zip.parent_path()), (std::set<std::string>{"a.zip"}));
  // A file that is not an archive is never overwritten.
  const fs::path text = dir / "notes.zip";
  WriteAll(text, "my notes");
  EXPECT_THROW(AddFilesToZip(text, {a}, {}), ZipError);
  EXPECT_EQ(ReadAll(text), "my notes");
}

}  // namespace
}  // namespace corvane::test
