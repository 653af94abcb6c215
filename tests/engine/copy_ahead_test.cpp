#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/copy_ahead.h"
#include "util/temp_dir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::Listing;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

struct Trees {
  TempDir tmp;
  fs::path src = tmp / "src", dst = tmp / "dst";
  Trees(int files) {
    fs::create_directories(src);
    fs::create_directories(dst);
    for (int i = 0; i < files; ++i) WriteAll(src / Name(i), "content of " + std::to_string(i));
  }
  static std::string Name(int i) { return "f" + std::to_string(i); }
  CopyAhead::Job Job(int i) const { return {src / Name(i), dst / Name(i), false}; }
};

// Whoever stages a job, the run takes each result in its turn, whole, and
// the copies become files only when the run commits them.
TEST(CopyAhead, EveryOfferedJobIsTakenInOrderWhoeverStagedIt) {
  Trees t(200);
  CopyAhead ahead;
  int offered = 0;
  for (int i = 0; i < 200; ++i) {
    for (; offered < 200 && offered <= i + 16; ++offered)
      if (offered % 7 != 3) {
        ASSERT_TRUE(ahead.Offer(offered, t.Job(offered)));
      }
    auto r = ahead.Take(i);
    if (i % 7 == 3) {
      EXPECT_FALSE(r) << i << " was never offered";
      continue;
    }
    ASSERT_TRUE(r) << i;
    ASSERT_TRUE(r->ok) << i;
    EXPECT_FALSE(fs::exists(t.dst / Trees::Name(i))) << "staged copies have no name yet";
    ASSERT_TRUE(r->copy.Commit().ok());
    EXPECT_EQ(ReadAll(t.dst / Trees::Name(i)), "content of " + std::to_string(i));
  }
  EXPECT_EQ(Listing(t.dst).size(), 171u);  // 29 of the 200 never offered
}

// A run that stops (a suspension) leaves the copies staged ahead untaken:
// neither they nor the ones passed over may leave anything behind.
TEST(CopyAhead, CopiesNeverTakenLeaveNothing) {
  Trees t(40);
  {
    CopyAhead ahead;
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(ahead.Offer(i, t.Job(i)));
    auto r = ahead.Take(10);  // 0 to 9 passed over
    ASSERT_TRUE(r && r->ok);
    ASSERT_TRUE(r->copy.Commit().ok());
    EXPECT_FALSE(ahead.Take(5)) << "a job passed over is gone";
  }
  EXPECT_EQ(Listing(t.dst), (std::set<std::string>{"f10"}));
}

TEST(CopyAhead, AFailedStagingIsReportedForThatJobOnly) {
  Trees t(3);
  fs::remove(t.src / "f1");
  CopyAhead ahead;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ahead.Offer(i, t.Job(i)));
  for (int i = 0; i < 3; ++i) {
    auto r = ahead.Take(i);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ok, i != 1) << i;
    if (r->ok) {
      EXPECT_TRUE(r->copy.Commit().ok());
    }
  }
  EXPECT_EQ(Listing(t.dst), (std::set<std::string>{"f0", "f2"}));
}

}  // namespace
}  // namespace corvane
