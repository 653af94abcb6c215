#include "bench/corpus.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "util/temp_dir.h"

namespace corvane::bench {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

struct Entry {
  bool folder = false;
  std::uint64_t size = 0;
  timespec mtime{};
};

// Everything below `root` by relative path, read with lstat so that a link
// is seen as itself.
std::map<std::string, Entry> List(const fs::path& root) {
  std::map<std::string, Entry> entries;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st{};
    EXPECT_EQ(::lstat(e.path().c_str(), &st), 0) << e.path();
    entries[e.path().lexically_relative(root).generic_string()] = {S_ISDIR(st.st_mode), static_cast<std::uint64_t>(st.st_size),
                                                                  st.st_mtim};
  }
  return entries;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// The relative paths at which the trees differ in kind, size, time (to the
// nanosecond) or bytes, or that only one of them has.
std::set<std::string> Differences(const fs::path& a, const fs::path& b) {
  const auto la = List(a);
  const auto lb = List(b);
  std::set<std::string> diff;
  for (const auto& [path, ea] : la) {
    const auto it = lb.find(path);
    if (it == lb.end()) {
      diff.insert(path);
      continue;
    }
    const Entry& eb = it->second;
    if (ea.folder != eb.folder || !SameTime(ea.mtime, eb.mtime) || (!ea.folder && ea.size != eb.size) ||
        (!ea.folder && ReadAll(a / path) != ReadAll(b / path))) {
      diff.insert(path);
    }
  }
  for (const auto& [path, eb] : lb) {
    if (!la.contains(path)) diff.insert(path);
  }
  return diff;
}

double Entropy(const std::string& bytes) {
  std::array<std::uint64_t, 256> counts{};
  for (unsigned char c : bytes) ++counts[c];
  double h = 0;
  for (auto n : counts) {
    if (n == 0) continue;
    const double p = static_cast<double>(n) / static_cast<double>(bytes.size());
    h -= p * std::log2(p);
  }
  return h;
}

int RunCli(const std::vector<std::string>& args, std::string* out = nullptr, std::string* err = nullptr) {
  std::ostringstream o, e;
  const int rc = RunCorpusCli(args, o, e);
  if (out) *out = o.str();
  if (err) *err = e.str();
  return rc;
}

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// One `small` tree, seed 42, written through the command line, shared by the
// tests that only read it.
class SmallCorpus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    std::string err;
    ASSERT_EQ(RunCli({"--preset", "small", "--seed", "42", "--out", Tree().string(), "--stats"}, &stats_output_, &err), 0)
        << err;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fs::path Tree() { return dir_->path() / "corpus"; }

  static TempDir* dir_;
  static std::string stats_output_;
};
TempDir* SmallCorpus::dir_ = nullptr;
std::string SmallCorpus::stats_output_;

TEST_F(SmallCorpus, SameSeedGivesTheSameTreeWhateverTheThreadCount) {
  TempDir other;
  WriteTree(MakePlan(Preset::kSmall, 42), other / "corpus", {.threads = 1});
  const auto entries = List(Tree());
  ASSERT_GT(entries.size(), 10'000u);
  EXPECT_EQ(Differences(Tree(), other / "corpus"), std::set<std::string>{});

  // The times are the seed's, not the clock's.
  const std::int64_t an_hour_ago = Now() - 3600;
  std::set<std::int64_t> times;
  for (const auto& [path, e] : entries) {
    EXPECT_LT(e.mtime.tv_sec, an_hour_ago) << path;
    times.insert(e.mtime.tv_sec);
  }
  EXPECT_GT(times.size(), entries.size() / 2);
}

TEST_F(SmallCorpus, AnotherSeedGivesAnotherTree) {
  TempDir other;
  WriteTree(MakePlan(Preset::kSmall, 43), other / "corpus");
  const auto entries = List(Tree());
  EXPECT_GT(Differences(Tree(), other / "corpus").size(), entries.size() * 9 / 10);
}

TEST_F(SmallCorpus, HasTheShapeOfThePreset) {
  const auto entries = List(Tree());
  std::uint64_t files = 0, folders = 0, bytes = 0, text = 0;
  int deepest_folder = 0;
  std::map<std::string, std::set<bool>> text_by_extension;
  for (const auto& [path, e] : entries) {
    const int depth = static_cast<int>(std::count(path.begin(), path.end(), '/')) + 1;
    if (e.folder) {
      ++folders;
      deepest_folder = std::max(deepest_folder, depth);
      continue;
    }
    ++files;
    bytes += e.size;
    EXPECT_GE(e.size, 1024u) << path;
    EXPECT_LE(e.size, 16u * 1024) << path;
    // Text from a vocabulary sits near 4 bits a byte, random bytes near 8;
    // nothing may fall between.
    const double h = Entropy(ReadAll(Tree() / path));
    EXPECT_TRUE(h < 5.0 || h > 7.5) << path << " entropy " << h;
    const bool is_text = h < 5.0;
    text += is_text;
    text_by_extension[fs::path(path).extension().string()].insert(is_text);
  }
  EXPECT_GE(files, 18'000u);
  EXPECT_LE(files, 22'000u);
  EXPECT_GE(folders, 900u);
  EXPECT_LE(folders, 1'100u);
  EXPECT_GE(deepest_folder, 3);
  EXPECT_LE(deepest_folder, 4);
  EXPECT_GT(text, files * 45 / 100);
  EXPECT_LT(text, files * 55 / 100);
  // A rewrite picks the kind from the extension, so each must have one kind.
  EXPECT_GE(text_by_extension.size(), 8u);
  for (const auto& [ext, kinds] : text_by_extension) EXPECT_EQ(kinds.size(), 1u) << ext;

  const std::string expected =
      "files " + std::to_string(files) + "\nfolders " + std::to_string(folders) + "\nbytes " + std::to_string(bytes) + "\n";
  EXPECT_EQ(stats_output_, expected);
  std::string out;
  EXPECT_EQ(RunCli({"--stats", "--out", Tree().string()}, &out), 0);
  EXPECT_EQ(out, expected);
}

// Plans of every preset, without writing them.
TEST(CorpusPlan, PresetsKeepTheirPromises) {
  constexpr std::uint64_t kMiB = 1024 * 1024;
  for (const Preset preset : {Preset::kSmall, Preset::kLarge, Preset::kMixed}) {
    for (const std::uint64_t seed : {1u, 2u, 977u}) {
      SCOPED_TRACE(testing::Message() << "preset " << static_cast<int>(preset) << " seed " << seed);
      const Plan plan = MakePlan(preset, seed);
      std::set<std::string> folders, paths;
      for (const auto& f : plan.folders) {
        const auto parent = fs::path(f.path).parent_path().generic_string();
        EXPECT_TRUE(parent.empty() || folders.contains(parent)) << f.path << " before its parent";
        EXPECT_TRUE(folders.insert(f.path).second) << f.path;
        EXPECT_TRUE(paths.insert(f.path).second) << f.path;
      }
      std::uint64_t total = 0, text = 0, empty = 0, largest = 0, at_largest = 0;
      std::vector<std::uint64_t> sizes;
      for (const auto& f : plan.files) {
        const auto parent = fs::path(f.path).parent_path().generic_string();
        EXPECT_TRUE(parent.empty() || folders.contains(parent)) << f.path;
        EXPECT_TRUE(paths.insert(f.path).second) << f.path;
        EXPECT_EQ(KindForName(f.path), f.kind) << f.path;
        total += f.size;
        text += f.kind == ContentKind::kText;
        empty += f.size == 0;
        if (f.size > largest) {
          largest = f.size;
          at_largest = 0;
        }
        at_largest += f.size == largest;
        sizes.push_back(f.size);
      }
      std::sort(sizes.begin(), sizes.end());
      const std::uint64_t files = plan.files.size();
      switch (preset) {
        case Preset::kSmall:
          EXPECT_NEAR(static_cast<double>(files), 20'000, 2'000);
          EXPECT_NEAR(static_cast<double>(plan.folders.size()), 1'000, 100);
          break;
        case Preset::kLarge:
          EXPECT_EQ(files, 20u);
          EXPECT_EQ(total, 1024 * kMiB);
          EXPECT_EQ(text, 10u);
          EXPECT_GE(sizes.front(), 20 * kMiB);
          break;
        case Preset::kMixed:
          EXPECT_NEAR(static_cast<double>(files), 5'000, 500);
          EXPECT_NEAR(static_cast<double>(plan.folders.size()), 300, 30);
          EXPECT_EQ(largest, 64 * kMiB);
          EXPECT_EQ(at_largest, 1u);
          EXPECT_GE(empty, 3u);
          EXPECT_LE(empty, 20u);
          EXPECT_LT(sizes[files / 2], 64u * 1024) << "most files are small";
          EXPECT_GT(sizes[files * 99 / 100], kMiB) << "some are large";
          EXPECT_NEAR(static_cast<double>(text), static_cast<double>(files) / 2, static_cast<double>(files) / 20);
          break;
      }
    }
  }
}

// Compared with the shared pristine tree of the same seed.
TEST_F(SmallCorpus, TouchRewritesExactlyTheChosenFiles) {
  TempDir dir;
  const Plan plan = MakePlan(Preset::kSmall, 42);
  WriteTree(plan, dir / "corpus");

  const auto touched = TouchTree(dir / "corpus", 0.1, 7);
  EXPECT_EQ(touched.size(), static_cast<std::size_t>(std::llround(0.1 * static_cast<double>(plan.files.size()))));
  EXPECT_TRUE(std::is_sorted(touched.begin(), touched.end()));
  EXPECT_EQ(Differences(dir / "corpus", Tree()), std::set<std::string>(touched.begin(), touched.end()));

  const auto before = List(Tree());
  const auto after = List(dir / "corpus");
  for (const auto& path : touched) {
    EXPECT_EQ(after.at(path).size, before.at(path).size) << path;
    EXPECT_GT(after.at(path).mtime.tv_sec, before.at(path).mtime.tv_sec) << path;
    EXPECT_EQ(Entropy(ReadAll(Tree() / path)) < 5.0, Entropy(ReadAll(dir / "corpus" / path)) < 5.0)
        << path << " changed kind";
  }
  // Another seed, other files.
  EXPECT_NE(TouchTree(dir / "corpus", 0.1, 8), touched);
}

TEST(CorpusTouch, CountFollowsTheFraction) {
  struct Case {
    double fraction;
    std::size_t expected;  // of 10 files
  };
  const Case cases[] = {{0.0, 0}, {0.04, 0}, {0.25, 3}, {0.5, 5}, {0.97, 10}, {1.0, 10}};
  const std::vector<std::string> names = {"a.txt", "b.jpg", "empty.log", "sub/c.csv", "sub/d.png", "sub/e",
                                          "sub/deeper/f.c", "sub/deeper/g.zip", "sub/deeper/h.h", "sub/deeper/i.pdf"};
  auto make_tree = [&](const fs::path& root) {
    fs::create_directories(root / "sub" / "deeper");
    for (const auto& n : names) WriteAll(root / n, n == "empty.log" ? std::string() : std::string(4096, 'x'));
    fs::create_symlink("a.txt", root / "link.txt");  // neither counted nor followed
    // Fixed times so that two trees made this way are alike.
    for (const auto& [path, entry] : List(root)) {
      const timespec t[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, (root / path).c_str(), t, AT_SYMLINK_NOFOLLOW), 0) << path;
    }
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fraction);
    TempDir dir, twin;
    make_tree(dir.path());
    make_tree(twin.path());
    const auto before = List(dir.path());

    const auto touched = TouchTree(dir.path(), c.fraction, 99);
    EXPECT_EQ(touched.size(), c.expected);
    EXPECT_EQ(TouchTree(twin.path(), c.fraction, 99), touched);
    EXPECT_EQ(Differences(dir.path(), twin.path()), std::set<std::string>{}) << "the same seed rewrites the same way";
    const auto after = List(dir.path());
    for (const auto& n : names) {
      const bool chosen = std::find(touched.begin(), touched.end(), n) != touched.end();
      const std::string content = ReadAll(dir / n);
      EXPECT_EQ(after.at(n).size, before.at(n).size) << n;
      EXPECT_EQ(!SameTime(after.at(n).mtime, before.at(n).mtime), chosen) << n;
      if (n == "empty.log") continue;
      EXPECT_EQ(content != std::string(4096, 'x'), chosen) << n;
      if (chosen) {
        EXPECT_EQ(Entropy(content) < 5.0, KindForName(n) == ContentKind::kText) << n;
      }
    }
    EXPECT_EQ(fs::read_symlink(dir / "link.txt"), "a.txt");
  }
}

TEST(CorpusCli, RefusesAFolderThatIsNotEmptyAndLeavesItAlone) {
  TempDir dir;
  WriteAll(dir / "mine.txt", "keep me");
  WriteAll(dir / "a-file", "not a folder");
  for (const fs::path& target : {dir.path(), dir / "a-file"}) {
    SCOPED_TRACE(target);
    std::string err;
    EXPECT_EQ(RunCli({"--preset", "small", "--seed", "1", "--out", target.string()}, nullptr, &err), 1);
    EXPECT_NE(err.find(target.string()), std::string::npos) << err;
    EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
    EXPECT_THROW(WriteTree(MakePlan(Preset::kSmall, 1), target), NotEmptyError);
  }
  EXPECT_EQ(List(dir.path()).size(), 2u);
  EXPECT_EQ(ReadAll(dir / "mine.txt"), "keep me");
  EXPECT_EQ(ReadAll(dir / "a-file"), "not a folder");
}

TEST(CorpusCli, RejectsBadCommandLinesWithoutWriting) {
  TempDir dir;
  const std::string out = (dir / "new").string();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--preset", "small", "--out", out}, "--seed is required"},
      {{"--preset", "huge", "--seed", "1", "--out", out}, "unknown preset 'huge'"},
      {{"--preset", "small", "--seed", "1"}, "--out DIR is required"},
      {{"--preset", "small", "--touch", "0.1", "--seed", "1", "--out", out}, "exclude each other"},
      {{"--touch", "1.5", "--seed", "1", "--out", out}, "from 0 to 1, not '1.5'"},
      {{"--touch", "nan", "--seed", "1", "--out", out}, "from 0 to 1, not 'nan'"},
      {{"--touch", "0.1x", "--seed", "1", "--out", out}, "not '0.1x'"},
      {{"--preset", "small", "--seed", "-1", "--out", out}, "whole number"},
      {{"--preset", "small", "--seed", "18446744073709551616", "--out", out}, "whole number"},
      {{"--preset", "small", "--seed", "1", "--seed", "2", "--out", out}, "--seed given twice"},
      {{"--preset", "small", "--seed", "1", "--out", out, "extra"}, "unknown argument 'extra'"},
      {{"--seed", "1", "--out", out}, "--seed needs --preset or --touch"},
      {{"--out", out}, "nothing to do"},
      {{"--preset", "small", "--seed"}, "--seed wants a value"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_EQ(RunCli(c.args, nullptr, &err), 2) << c.message;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(out)) << c.message;
  }
  // Both spellings of an option's value are taken: this one gets as far as
  // finding the folder occupied.
  WriteAll(dir / "occupied", "");
  std::string err;
  EXPECT_EQ(RunCli({"--preset=small", "--seed=5", "--out=" + dir.path().string()}, nullptr, &err), 1);
  EXPECT_NE(err.find("not empty"), std::string::npos) << err;
}

}  // namespace
}  // namespace corvane::bench
