#include "platform/dynamic_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "util/temp_dir.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteAll;

const fs::path kPlugin = CORVANE_TEST_PLUGIN;

TEST(DynamicLibrary, LoadsLooksUpAndUnloads) {
  ASSERT_TRUE(fs::exists(kPlugin)) << kPlugin;
  {
    std::string error;
    auto lib = DynamicLibrary::Load(kPlugin, &error);
    ASSERT_TRUE(lib) << error;
    auto signature = lib->Function<const char*()>("Signature");
    ASSERT_NE(signature, nullptr);
    EXPECT_STREQ(signature(), "Test plug-in");
    auto entree = lib->Function<const char*(const char*)>("Entree");
    ASSERT_NE(entree, nullptr);
    EXPECT_STREQ(entree("/docs/a.txt"), "xyz");
    EXPECT_EQ(lib->Symbol("Init"), nullptr);
    EXPECT_EQ(lib->Symbol("signature"), nullptr);  // names keep their case
    EXPECT_EQ(lib->Symbol(""), nullptr);
    auto calls = lib->Function<int()>("Calls");
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(calls(), 1);
    EXPECT_EQ(calls(), 2);
    // Moving hands the one load over; the moved-from object unloads nothing.
    DynamicLibrary moved = std::move(*lib);
    lib.reset();
    EXPECT_EQ(moved.Function<int()>("Calls")(), 3);
  }
  // Unloaded with its object: a new load starts from fresh state.
  auto again = DynamicLibrary::Load(kPlugin);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Function<int()>("Calls")(), 1);
}

TEST(DynamicLibrary, TwoFilesOfOnePlugInAreTwoInstances) {
  TempDir dir;
  fs::copy_file(kPlugin, dir / "a.so");
  fs::copy_file(kPlugin, dir / "b.so");
  auto a = DynamicLibrary::Load(dir / "a.so");
  auto b = DynamicLibrary::Load(dir / "b.so");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Function<int()>("Calls")(), 1);
  EXPECT_EQ(a->Function<int()>("Calls")(), 2);
  EXPECT_EQ(b->Function<int()>("Calls")(), 1);
  EXPECT_STREQ(b->Function<const char*()>("Signature")(), "Test plug-in");
}

TEST(DynamicLibrary, FailuresGiveTheLoadersMessage) {
  TempDir dir;
  WriteAll(dir / "broken.so", "not an ELF file at all");
  struct Case {
    fs::path file;
    const char* says;
  };
  for (const Case& c : {Case{dir / "broken.so", "broken.so"}, Case{dir / "missing.so", "missing.so"},
                        Case{dir.path(), ""}}) {
    std::string error;
    EXPECT_FALSE(DynamicLibrary::Load(c.file, &error)) << c.file;
    EXPECT_FALSE(error.empty()) << c.file;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(DynamicLibrary, BareNamesAreNeverSearchedForInTheSystem) {
  TempDir dir;
  fs::copy_file(kPlugin, dir / "plugin.so");
  fs::path saved = fs::current_path();
  fs::current_path(dir.path());
  // libm is on every system: found by a library-path search, absent here.
  std::string error;
  auto system_lib = DynamicLibrary::Load("libm.so.6", &error);
  auto local_lib = DynamicLibrary::Load("plugin.so");
  fs::current_path(saved);
  EXPECT_FALSE(system_lib);
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(local_lib);
  EXPECT_STREQ(local_lib->Function<const char*()>("Signature")(), "Test plug-in");
}

TEST(ListLibraries, OnlyPlainSoFilesSortedByName) {
  TempDir dir;
  for (const char* name : {"b.so", "a.so", "Z.so", "notes.txt", "c.so.1", "d.SO", ".so", "e.sox"})
    WriteAll(dir / name, "x");
  fs::create_directory(dir / "folder.so");
  fs::create_symlink(dir / "a.so", dir / "link.so");
  fs::create_symlink(dir / "nowhere", dir / "dangling.so");
  ASSERT_EQ(::mkfifo((dir / "fifo.so").c_str(), 0600), 0);
  EXPECT_EQ(ListLibraries(dir.path()),
            (std::vector<fs::path>{dir / "Z.so", dir / "a.so", dir / "b.so", dir / "link.so"}));
  EXPECT_TRUE(ListLibraries(dir / "missing").empty());
}

}  // namespace
}  // namespace corvane::platform
