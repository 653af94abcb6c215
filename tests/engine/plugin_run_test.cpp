// Expert plug-ins in backup runs, with the sample plug-ins built beside the
// tests and copied into the installation folder under chosen names (the
// names give the order in which they are called).
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "support/stored_secret.h"
#include "util/zip_check.h"

namespace corvane::test {
namespace {

class PluginRunTest : public EngineTest {
 protected:
  // Installs the sample built with `extension` as `name` in the program folder.
  void Install(const std::string& extension, const std::string& name) {
    fs::copy_file(fs::path(CORVANE_SAMPLE_PLUGIN_DIR) / ("libcorvane_sample_plugin_" + extension + ".so"),
                  install / name, fs::copy_options::overwrite_existing);
  }
  void Use(const std::string& signature, int type) {
    Settings().WriteString("PARAMS", "PlugInn", signature);
    Settings().WriteInteger("PARAMS", "TypeSauve", type);
    Settings().WriteString("PARAMS", "Cryptage", EncryptSetting("pw"));
  }
};

struct PluginCase {
  int type;
  const char* suffix;
};

void PrintTo(const PluginCase& c, std::ostream* os) { *os << "TypeSauve " << c.type; }

class PluginKinds : public PluginRunTest, public ::testing::WithParamInterface<PluginCase> {};

// The plug-in's extension reaches the delivered name, before the kind's
// own; the journal names the plug-in, then the source. Libraries that do
// not load, lack "Signature" or sign otherwise are passed over; a file the
// plug-in produces nothing for is skipped, not failed.
TEST_P(PluginKinds, TheDerivedFileIsDelivered) {
  const auto& c = GetParam();
  Install("xyz", "b_sample.so");
  Install("nos", "a_no_signature.so");
  Install("qqq", "c_other.so");
  WriteAll(install / "0_broken.so", "not a library");
  Use("Sample", c.type);
  MakeFile("Docs/a.txt", "alpha");
  MakeFile("Docs/nothing.txt", "skipped by the plug-in");

  auto d = RunBackup();
  ASSERT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(d->DllPlugInn(), "b_sample.so");
  EXPECT_EQ(Tree(dest), std::vector<std::string>{std::string("Docs/a.txt.xyz") + c.suffix});
  const fs::path delivered = dest / (std::string("Docs/a.txt.xyz") + c.suffix);
  if (c.type == 1) {
    auto entries = PyRead(delivered);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].name, EntryOf(origin / "Docs/a.txt.xyz"));
    EXPECT_EQ((*entries)[0].content, Hex("[xyz]alpha"));
  } else if (c.type == 0) {
    EXPECT_EQ(ReadAll(delivered), "[xyz]alpha");
  }
  // The derived file stays in the origin only when it was delivered as it is.
  EXPECT_EQ(fs::exists(origin / "Docs/a.txt.xyz"), c.type == 0);
  EXPECT_FALSE(fs::exists(origin / "Docs/a.txt.qqq")) << "a plug-in of another signature is not called";

  auto j = TodaysJournal();
  auto it = std::find(j.begin(), j.end(), origin.string() + "/Docs/a.txt");
  ASSERT_NE(it, j.end()) << ::testing::PrintToString(j);
  ASSERT_NE(it, j.begin());
  EXPECT_EQ(*(it - 1), "Sample");
  auto skipped = std::find(j.begin(), j.end(), origin.string() + "/Docs/nothing.txt");
  ASSERT_NE(skipped, j.end());
  EXPECT_NE(*(skipped - 1), "Sample");
  EXPECT_EQ(std::count(j.begin(), j.end(), catalog.echec_transfert), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PluginKinds,
                         ::testing::Values(PluginCase{0, ""}, PluginCase{1, ".zip"}, PluginCase{2, ".ccv"},
                                           PluginCase{3, ".zip.ccv"}));

TEST_F(PluginRunTest, EveryLibraryOfTheSignatureIsCalledAndTheLastOneWins) {
  Install("xyz", "a_first.so");
  Install("abc", "b_second.so");
  Use("Sample", 0);
  MakeFile("a.txt", "alpha");
  auto d = RunBackup();
  EXPECT_EQ(d->DllPlugInn(), "b_second.so");
  EXPECT_TRUE(fs::exists(origin / "a.txt.xyz")) << "the first one was called too";
  EXPECT_EQ(Tree(dest), std::vector<std::string>{"a.txt.abc"});
  EXPECT_EQ(ReadAll(dest / "a.txt.abc"), "[abc]alpha");
}

TEST_F(PluginRunTest, AMissingPlugInDeliversNothing) {
  Install("xyz", "sample.so");
  Use("Absent", 1);
  MakeFile("a.txt", "a");
  MakeFile("Sub/b.txt", "b");
  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(d->FichiersSelectionnes().size(), 2u);
  EXPECT_EQ(Tree(dest), std::vector<std::string>{});
  EXPECT_EQ(d->DllPlugInn(), "");
  auto j = TodaysJournal();
  for (const char* rel : {"/a.txt", "/Sub/b.txt"})
    EXPECT_NE(std::find(j.begin(), j.end(), origin.string() + rel), j.end()) << rel;
  EXPECT_EQ(std::count(j.begin(), j.end(), catalog.echec_transfert), 0);
}

// A plug-in that names a file it did not write: the ZIP step fails for that
// file alone, which is reported; the run goes on.
TEST_F(PluginRunTest, AnAnnouncedFileThatIsMissingFailsOnlyItsOwnDelivery) {
  Install("xyz", "sample.so");
  Use("Sample", 3);
  MakeFile("a_phantom.txt", "never derived");
  MakeFile("b.txt", "bravo");
  auto d = RunBackup();
  EXPECT_EQ(Tree(dest), std::vector<std::string>{"b.txt.xyz.zip.ccv"});
  auto j = TodaysJournal();
  auto it = std::find(j.begin(), j.end(), catalog.echec_transfert);
  ASSERT_NE(it, j.end());
  EXPECT_EQ(*(it + 1), origin.string() + "/a_phantom.txt");
}

}  // namespace
}  // namespace corvane::test
