#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <vector>
#include <string>

#include "platform/atomic_file.h"
#include "util/process.h"
#include "util/temp_dir.h"

namespace corvane::platform {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

struct RoundTrip {
  const char* label;
  std::string section;
  std::string key;
  std::string value;
};

class IniRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

// Every value written reads back unchanged, from the cache and from a fresh
// parse of the file.
TEST_P(IniRoundTrip, ReadsBackWhatWasWritten) {
  const RoundTrip& c = GetParam();
  TempDir dir;
  IniFile ini(dir / "f.ini");
  ASSERT_TRUE(ini.Write("PARAMS", "Before", "x"));
  ASSERT_TRUE(ini.Write(c.section, c.key, c.value));
  ASSERT_TRUE(ini.Write("PARAMS", "After", "y"));
  EXPECT_EQ(ini.Read(c.section, c.key), c.value);
  ClearIniCache();
  EXPECT_EQ(ini.Read(c.section, c.key), c.value);
  EXPECT_EQ(ini.Read("PARAMS", "Before"), "x");
  EXPECT_EQ(ini.Read("PARAMS", "After"), "y");
  auto keys = ini.Keys(c.section);
  EXPECT_NE(std::find(keys.begin(), keys.end(), c.key), keys.end());
}

INSTANTIATE_TEST_SUITE_P(
    Values, IniRoundTrip,
    ::testing::Values(
        RoundTrip{"plain", "PARAMS", "Origine", "/home/anne/Documents"},
        RoundTrip{"empty", "PARAMS", "PlugInn", ""},
        RoundTrip{"blanks", "PARAMS", "Nom", "  two leading, two trailing  "},
        RoundTrip{"only_blanks", "PARAMS", "Nom", "   "},
        RoundTrip{"tab", "PARAMS", "Nom", "\tx\t"},
        RoundTrip{"quotes", "PARAMS", "Nom", "\"quoted\""},
        RoundTrip{"one_quote", "PARAMS", "Nom", "\""},
        RoundTrip{"inner_quotes", "PARAMS", "Nom", "say \"hi\" now"},
        RoundTrip{"equals", "PARAMS", "FTPPass", "abc==def="},
        RoundTrip{"base64", "PARAMS", "Cryptage", "q+/w=="},
        RoundTrip{"backslashes", "PARAMS", "Nom", "C:\\new\\x41\\"},
        RoundTrip{"quoted_backslash", "PARAMS", "Nom", "\"C:\\new\""},
        RoundTrip{"newline", "PARAMS", "Nom", "line1\nline2\r\n"},
        RoundTrip{"control", "PARAMS", "Nom", std::string("a\x01\x7f", 3) + "b"},
        RoundTrip{"semicolon", "PARAMS", "Nom", "; not a comment"},
        RoundTrip{"utf8", "PARAMS", "Nom", "Sauvegarde compressée – été"},
        RoundTrip{"key_with_equals", "/home/anne/", "a=b.txt", "0"},
        RoundTrip{"key_leading_semicolon", "/home/anne/", ";odd.txt", "0"},
        RoundTrip{"key_leading_bracket", "/home/anne/", "[x].txt", "0"},
        RoundTrip{"key_blanks", "/home/anne/", " spaced.txt ", "0"},
        RoundTrip{"key_hash", "/home/anne/", "#1.txt", "1"},
        RoundTrip{"key_quote", "/home/anne/", "\"q\".txt", "1"},
        RoundTrip{"key_empty", "HKEY_CURRENT_USER\\Software", "", "s:default"},
        RoundTrip{"section_bracket", "/home/anne/Docs [old]/", "a.txt", "0"},
        RoundTrip{"section_trailing_bracket", "/home/x]/", "a]", "0"},
        RoundTrip{"section_newline", "/home/a\nb/", "k", "v"},
        RoundTrip{"section_blank_end", "/home/a /", "k", "v"},
        RoundTrip{"section_leading_blank", " /x/", "k", "v"}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST(IniFile, NamesMatchWithoutRegardToCase) {
  TempDir dir;
  WriteAll(dir / "f.ini", "[params]\nSousrep=1\nNBMaxFic=12\n[/home/ÉTÉ/]\nÀ.txt=0\n");
  IniFile ini(dir / "f.ini");
  EXPECT_EQ(ini.Read("PARAMS", "SousRep"), "1");
  EXPECT_EQ(ini.Read("Params", "NbMaxFic"), "12");
  EXPECT_EQ(ini.Read("/home/été/", "à.txt"), "0");
  EXPECT_FALSE(ini.Read("/home/ete/", "a.txt"));
  // A write under another spelling replaces the key where it stands.
  ASSERT_TRUE(ini.Write("PARAMS", "SOUSREP", "0"));
  EXPECT_EQ(ini.Keys("PARAMS"), (std::vector<std::string>{"Sousrep", "NBMaxFic"}));
  EXPECT_EQ(ini.Read("params", "sousrep"), "0");
}

TEST(IniFile, MissingFileReadsAsDefaultsAndIsNeverCreatedByReading) {
  TempDir dir;
  IniFile ini(dir / "absent.ini");
  EXPECT_EQ(ini.ReadString("PARAMS", "Origine", "dflt"), "dflt");
  EXPECT_FALSE(ini.KeyExists("PARAMS", "Origine"));
  EXPECT_TRUE(ini.Keys("PARAMS").empty());
  EXPECT_TRUE(ini.Sections().empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.ini"));
  // Erasing or deleting in a missing file changes nothing and creates nothing.
  EXPECT_TRUE(ini.EraseSection("PARAMS"));
  EXPECT_TRUE(ini.DeleteKey("PARAMS", "x"));
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.ini"));
}

TEST(IniFile, NewFilesArePrivateAndExistingModesKept) {
  TempDir dir;
  IniFile ini(dir / "f.ini");
  ASSERT_TRUE(ini.Write("PARAMS", "Cryptage", "secret"));
  struct stat st;
  ASSERT_EQ(::stat((dir / "f.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ::chmod((dir / "f.ini").c_str(), 0640);
  ASSERT_TRUE(ini.Write("PARAMS", "Nom", "x"));
  ASSERT_EQ(::stat((dir / "f.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // No temporary file is left beside it.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST(IniFile, HandWrittenFilesAreReadAndTheirLinesKept) {
  TempDir dir;
  const std::string text =
      "\xEF\xBB\xBF; comment written by hand\r\n"
      "[PARAMS]\r\n"
      "  Nom = Mes documents  \r\n"
      "Origine=\"/home/anne/My Docs\"\r\n"
      "garbage line without equals\r\n"
      "\r\n"
      "[EXTENSIONS]\r\n"
      "doc=1\r\n"
      "# another comment\r\n"
      "xls=1\r\n";
  WriteAll(dir / "f.ini", text);
  IniFile ini(dir / "f.ini");
  EXPECT_EQ(ini.Read("PARAMS", "Nom"), "Mes documents");
  EXPECT_EQ(ini.Read("PARAMS", "Origine"), "/home/anne/My Docs");
  EXPECT_EQ(ini.Keys("EXTENSIONS"), (std::vector<std::string>{"doc", "xls"}));
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"PARAMS", "EXTENSIONS"}));

  ASSERT_TRUE(ini.Write("PARAMS", "Journal", "1"));
  std::string after = ReadAll(dir / "f.ini");
  // Comments, the unparsable line, the BOM and the CRLF ends survive; the new
  // key joins its section before the blank line.
  EXPECT_EQ(after.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(after.find("; comment written by hand\r\n"), std::string::npos);
  EXPECT_NE(after.find("garbage line without equals\r\nJournal=1\r\n\r\n[EXTENSIONS]"), std::string::npos);
  EXPECT_NE(after.find("# another comment\r\n"), std::string::npos);
  EXPECT_EQ(after.find("\n\n"), std::string::npos) << "no bare LF in a CRLF file";
}

TEST(IniFile, ErasingASectionKeepsTheOthers) {
  TempDir dir;
  IniFile ini(dir / "f.ini");
  ASSERT_TRUE(ini.Write("PARAMS", "Nom", "n"));
  ASSERT_TRUE(ini.Write("/a/", "x.txt", "0"));
  ASSERT_TRUE(ini.Write("/a/b/", "y.txt", "0"));
  ASSERT_TRUE(ini.EraseSection("/A/"));
  EXPECT_FALSE(ini.SectionExists("/a/"));
  EXPECT_EQ(ini.Read("/a/b/", "y.txt"), "0");
  EXPECT_EQ(ini.Read("PARAMS", "Nom"), "n");
  ASSERT_TRUE(ini.DeleteKey("PARAMS", "nom"));
  EXPECT_FALSE(ini.KeyExists("PARAMS", "Nom"));
  EXPECT_TRUE(ini.SectionExists("PARAMS"));
}

TEST(IniFile, UnreadableOrFolderlessWritesFailWithoutChangingAnything) {
  TempDir dir;
  IniFile nowhere(dir / "missing-folder" / "f.ini");
  EXPECT_FALSE(nowhere.Write("PARAMS", "Nom", "x"));
  std::filesystem::create_directory(dir / "adir.ini");
  IniFile not_a_file(dir / "adir.ini");
  EXPECT_FALSE(not_a_file.Write("PARAMS", "Nom", "x"));
  EXPECT_EQ(not_a_file.ReadString("PARAMS", "Nom", "d"), "d");
}

// Appends keep every byte already there, mend a torn last line, follow a
// link to its target, and are private when they create the file.
TEST(LockedAppend, AddsAfterWhatIsThereAndMendsATornLine) {
  TempDir dir;
  const auto path = dir / "day.log";
  ASSERT_TRUE(LockedAppend(path, "one\r\n", "\r\n"));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(LockedAppend(path, "two\r\n", "\r\n"));
  EXPECT_EQ(ReadAll(path), "one\r\ntwo\r\n");
  WriteAll(path, "one\r\ntor");  // a write cut short
  ASSERT_TRUE(LockedAppend(path, "three\r\n", "\r\n"));
  EXPECT_EQ(ReadAll(path), "one\r\ntor\r\nthree\r\n");
  std::filesystem::create_symlink(path, dir / "link.log");
  ASSERT_TRUE(LockedAppend(dir / "link.log", "four\r\n", "\r\n"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.log"));
  EXPECT_EQ(ReadAll(path), "one\r\ntor\r\nthree\r\nfour\r\n");
  EXPECT_FALSE(LockedAppend(dir / "no-folder" / "x.log", "x", "\n"));
  std::filesystem::create_directory(dir / "adir.log");
  EXPECT_FALSE(LockedAppend(dir / "adir.log", "x", "\n"));
}

// Appenders in several processes and a rewriter of the same file never
// lose each other's lines.
TEST(LockedAppend, ConcurrentAppendersAndReplacersLoseNothing) {
  TempDir dir;
  const auto path = dir / "day.log";
  constexpr int kWriters = 4, kLines = 50;
  std::vector<int> pids;
  for (int w = 0; w < kWriters; ++w) {
    pids.push_back(test::ForkChild([&, w] {
      for (int i = 0; i < kLines; ++i) {
        std::string line = "w" + std::to_string(w) + " " + std::to_string(i) + "\n";
        bool ok = w == 0 ? LockedReplace(path, [&](const std::string* cur) -> std::optional<std::string> {
                             return (cur ? *cur : std::string()) + line;
                           })
                         : LockedAppend(path, line, "\n");
        if (!ok) return 1;
      }
      return 0;
    }));
  }
  for (int pid : pids) ASSERT_EQ(test::WaitChild(pid), 0);
  std::string all = ReadAll(path);
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), kWriters * kLines);
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kLines; ++i)
      EXPECT_NE(all.find("w" + std::to_string(w) + " " + std::to_string(i) + "\n"), std::string::npos) << w << " " << i;
}

// A write by another process is seen by the very next read, even when the
// versions alternate between contents of equal size within one clock tick
// (the case a cache keyed on coarse times or reused inodes gets wrong).
TEST(IniFile, ReadsSeeEveryWriteOfOtherProcesses) {
  TempDir dir;
  const auto path = dir / "f.ini";
  IniFile ini(path);
  ASSERT_TRUE(ini.Write("PARAMS", "Encours", "0"));
  std::string current = "0";
  for (int i = 0; i < 200; ++i) {
    std::string want = current == "0" ? "1" : "0";
    ASSERT_EQ(ini.Read("PARAMS", "Encours"), current) << i;  // primes the cache
    int pid = test::ForkChild([&] { return IniFile(path).Write("PARAMS", "Encours", want) ? 0 : 1; });
    ASSERT_EQ(test::WaitChild(pid), 0);
    ASSERT_EQ(ini.Read("PARAMS", "Encours"), want) << "iteration " << i;
    current = want;
  }
}

// Several processes writing their own keys of one file many times lose no
// write, and a reader running beside them never sees a torn file.
TEST(IniFile, ConcurrentWritersLoseNothing) {
  TempDir dir;
  const auto path = dir / "f.ini";
  constexpr int kWriters = 4;
  constexpr int kRounds = 150;
  std::vector<int> pids;
  for (int w = 0; w < kWriters; ++w) {
    pids.push_back(test::ForkChild([&, w] {
      IniFile ini(path);
      for (int r = 0; r < kRounds; ++r) {
        std::string section = (r % 3 == 0) ? "PARAMS" : "/data/" + std::to_string(w) + "/";
        if (!ini.Write(section, "w" + std::to_string(w) + "k" + std::to_string(r % 10), std::to_string(r)))
          return 1;
      }
      return 0;
    }));
  }
  int reader = test::ForkChild([&] {
    for (int i = 0; i < 2000; ++i) {
      std::string content;
      ReadResult r = ReadWholeFile(path, content);
      if (r == ReadResult::Error) return 3;
      if (r == ReadResult::Ok && content.find("[PARAMS]") == std::string::npos) return 4;
      if (r == ReadResult::Ok && !content.empty() && content.back() != '\n') return 5;
    }
    return 0;
  });
  for (int pid : pids) EXPECT_EQ(test::WaitChild(pid), 0);
  EXPECT_EQ(test::WaitChild(reader), 0);

  IniFile ini(path);
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < 10; ++k) {
      // The last round that wrote key k of writer w.
      int last = -1;
      for (int r = 0; r < kRounds; ++r)
        if (r % 10 == k) last = r;
      std::string section = (last % 3 == 0) ? "PARAMS" : "/data/" + std::to_string(w) + "/";
      EXPECT_EQ(ini.Read(section, "w" + std::to_string(w) + "k" + std::to_string(k)), std::to_string(last))
          << "writer " << w << " key " << k;
    }
  }
}

// A writer killed at any moment leaves either the old or the new version,
// never a torn or empty file.
TEST(IniFile, WriterKilledMidWriteLeavesTheFileWhole) {
  TempDir dir;
  const auto path = dir / "f.ini";
  const std::string big(20000, 'v');
  ASSERT_TRUE(IniFile(path).Write("PARAMS", "Nom", "start"));
  std::mt19937 rng(12345);
  for (int round = 0; round < 25; ++round) {
    int pid = test::ForkChild([&] {
      IniFile ini(path);
      for (int i = 0; i < 100000; ++i) ini.Write("PARAMS", "Big" + std::to_string(i % 50), big + std::to_string(i));
      return 0;
    });
    ::usleep(1000 + rng() % 20000);
    ::kill(pid, SIGKILL);
    test::WaitChild(pid);
    std::string content;
    ASSERT_EQ(ReadWholeFile(path, content), ReadResult::Ok);
    auto doc = IniDocument::Parse(content);
    ASSERT_NE(doc.Find("PARAMS", "Nom"), nullptr) << "round " << round;
    EXPECT_EQ(*doc.Find("PARAMS", "Nom"), "start");
    for (const auto& [key, value] : doc.Entries("PARAMS")) {
      if (key == "Nom") continue;
      EXPECT_EQ(value.substr(0, big.size()), big) << key;
    }
  }
}

// The compound step that lets a run test and set a mark in one go.
TEST(IniFile, UpdateIsOneIndivisibleStepAcrossProcesses) {
  TempDir dir;
  const auto path = dir / "f.ini";
  ASSERT_TRUE(IniFile(path).Write("PARAMS", "Encours", "0"));
  std::vector<int> pids;
  for (int i = 0; i < 6; ++i) {
    pids.push_back(test::ForkChild([&] {
      bool mine = false;
      IniFile(path).Update([&](IniDocument& doc) {
        const std::string* v = doc.Find("PARAMS", "Encours");
        if (v && *v == "1") return false;
        mine = true;
        return doc.Set("PARAMS", "Encours", "1");
      });
      return mine ? 10 : 0;
    }));
  }
  int winners = 0;
  for (int pid : pids) winners += test::WaitChild(pid) == 10;
  EXPECT_EQ(winners, 1);
}

}  // namespace
}  // namespace corvane::platform
