#include "bench/corpus.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "util/temp_dir.h"

namespace corvane::bench {
namespace {

namespace fs = std::filesystem;

struct FileState {
  std::string content;
  std::int64_t mtime_ns;
  bool operator==(const FileState&) const = default;
};

std::map<std::string, FileState> Snapshot(const fs::path& root) {
  std::map<std::string, FileState> out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    struct stat st {};
    ::stat(e.path().c_str(), &st);
    out[fs::relative(e.path(), root).string()] = {test::ReadAll(e.path()),
                                                  st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return out;
}

TEST(Corpus, TheSameSeedGivesTheSameTreeAndAnotherSeedAnother) {
  test::TempDir dir;
  WriteTree(MakePlan(Preset::kSmall, 7), dir / "a");
  WriteTree(MakePlan(Preset::kSmall, 7), dir / "b", WriteOptions{1});
  WriteTree(MakePlan(Preset::kSmall, 8), dir / "c");
  auto a = Snapshot(dir / "a");
  EXPECT_EQ(a, Snapshot(dir / "b")) << "names, bytes and times, whatever the thread count";
  EXPECT_NE(a, Snapshot(dir / "c"));

  // The small preset's shape.
  auto stats = ScanTree(dir / "a");
  EXPECT_NEAR(static_cast<double>(stats.files), 20000.0, 2000.0);
  EXPECT_NEAR(static_cast<double>(stats.folders), 1000.0, 200.0);
  std::size_t text = 0;
  for (const auto& [name, f] : a) {
    ASSERT_GE(f.content.size(), 1024u) << name;
    ASSERT_LE(f.content.size(), 16384u) << name;
    text += KindForName(fs::path(name).filename().string()) == ContentKind::kText;
  }
  EXPECT_NEAR(static_cast<double>(text) / static_cast<double>(a.size()), 0.5, 0.1);
}

TEST(Corpus, TextFilesCompressAndRandomOnesDoNot) {
  test::TempDir dir;
  auto plan = MakePlan(Preset::kSmall, 3);
  WriteTree(plan, dir / "t");
  // Distinct byte values as a rough measure: words use few, noise nearly all.
  int checked_text = 0, checked_random = 0;
  for (const auto& f : plan.files) {
    if (f.size < 8192) continue;
    std::string bytes = test::ReadAll(dir / "t" / f.path);
    bool seen[256] = {};
    int distinct = 0;
    for (unsigned char c : bytes) distinct += !std::exchange(seen[c], true);
    if (f.kind == ContentKind::kText && checked_text < 20) {
      EXPECT_LT(distinct, 100) << f.path;
      ++checked_text;
    } else if (f.kind == ContentKind::kRandom && checked_random < 20) {
      EXPECT_GT(distinct, 240) << f.path;
      ++checked_random;
    }
  }
  EXPECT_EQ(checked_text, 20);
  EXPECT_EQ(checked_random, 20);
}

TEST(Corpus, TouchChangesExactlyTheChosenFilesAndNothingIsOverwritten) {
  test::TempDir dir;
  WriteTree(MakePlan(Preset::kSmall, 5), dir / "t");
  auto before = Snapshot(dir / "t");
  auto touched = TouchTree(dir / "t", 0.01, 9);
  auto after = Snapshot(dir / "t");
  EXPECT_NEAR(static_cast<double>(touched.size()), 0.01 * static_cast<double>(before.size()), 1.0);
  ASSERT_EQ(before.size(), after.size());
  std::size_t changed = 0;
  for (const auto& [name, f] : before) {
    bool is_touched = std::binary_search(touched.begin(), touched.end(), name);
    const FileState& now = after.at(name);
    if (is_touched) {
      EXPECT_NE(now.content, f.content) << name;
      EXPECT_EQ(now.content.size(), f.content.size()) << name;
      EXPECT_GT(now.mtime_ns, f.mtime_ns) << name;
      ++changed;
    } else {
      EXPECT_EQ(now, f) << name;
    }
  }
  EXPECT_EQ(changed, touched.size());
  // A tree is never written over one that exists.
  EXPECT_THROW(WriteTree(MakePlan(Preset::kSmall, 5), dir / "t"), NotEmptyError);
  EXPECT_EQ(Snapshot(dir / "t"), after);
}

}  // namespace
}  // namespace corvane::bench
