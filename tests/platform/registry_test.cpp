#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <random>

#include "platform/atomic_file.h"
#include "platform/ini_file.h"
#include "util/process.h"
#include "util/temp_dir.h"

namespace corvane::platform {
namespace {

using test::TempDir;
constexpr auto HKCU = RegRoot::CurrentUser;
constexpr auto HKCR = RegRoot::ClassesRoot;

struct Recorder : RegistryObserver {
  std::vector<std::string> events;
  void ValueWritten(RegRoot root, std::string_view key, std::string_view name, const RegValue& v) override {
    events.push_back(std::string(RootName(root)) + "|" + std::string(key) + "|" + std::string(name) + "=" +
                     (v.type == RegValue::Type::Text ? v.text : std::to_string(v.number)));
  }
  void ValueDeleted(RegRoot root, std::string_view key, std::string_view name) override {
    events.push_back(std::string(RootName(root)) + "|" + std::string(key) + "|" + std::string(name) + " deleted");
  }
};

TEST(Registry, TextAndIntegerValuesRoundTripUnderCaseInsensitiveNames) {
  TempDir dir;
  Registry reg(dir / "cfg" / "registry.ini");  // the folder is created on first write
  EXPECT_FALSE(reg.Read(HKCU, "Software\\Corvane3\\inc", "localisation"));
  ASSERT_TRUE(reg.WriteText(HKCU, "Software\\Corvane3\\inc", "localisation", "Français"));
  ASSERT_TRUE(reg.WriteInteger(HKCU, "Software\\Corvane3\\inc", "DelaiJcv", 4000000000u));
  ASSERT_TRUE(reg.WriteText(HKCU, "Software\\Corvane3\\inc", "Password", ""));
  ASSERT_TRUE(reg.WriteText(HKCU, "Software\\Corvane3", "odd = name \"x\"", " data with = and \"quotes\" "));

  auto loc = reg.Read(HKCU, "SOFTWARE\\corvane3\\INC", "LOCALISATION");
  ASSERT_TRUE(loc);
  EXPECT_EQ(loc->type, RegValue::Type::Text);
  EXPECT_EQ(loc->text, "Français");
  auto delai = reg.Read(HKCU, "Software\\Corvane3\\inc", "delaijcv");
  ASSERT_TRUE(delai);
  EXPECT_EQ(delai->type, RegValue::Type::Integer);
  EXPECT_EQ(delai->number, 4000000000u);
  EXPECT_EQ(reg.Read(HKCU, "Software\\Corvane3\\inc", "Password")->text, "");
  EXPECT_EQ(reg.Read(HKCU, "Software\\Corvane3", "ODD = NAME \"X\"")->text, " data with = and \"quotes\" ");
  // The two roots are separate.
  EXPECT_FALSE(reg.Read(HKCR, "Software\\Corvane3\\inc", "localisation"));
}

TEST(Registry, ValuesAreListedInCreationOrderWithoutSubKeysOrTheDefault) {
  TempDir dir;
  Registry reg(dir / "registry.ini");
  const char* key = "Software\\Corvane3";
  ASSERT_TRUE(reg.WriteText(HKCU, key, "Zeta", "/z.ini"));
  ASSERT_TRUE(reg.WriteText(HKCU, key, "alpha", "/a.ini"));
  ASSERT_TRUE(reg.WriteText(HKCU, "Software\\Corvane3\\inc", "localisation", "English"));
  ASSERT_TRUE(reg.WriteText(HKCU, "Software\\Corvane3\\ftp", "server", "x"));
  ASSERT_TRUE(reg.WriteText(HKCU, key, "", "default value"));
  ASSERT_TRUE(reg.WriteText(HKCU, key, "Mid", "/m.ini"));
  ASSERT_TRUE(reg.WriteText(HKCU, key, "ZETA", "/z2.ini"));  // same value, keeps its place and spelling
  EXPECT_EQ(reg.ValueNames(HKCU, key), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  EXPECT_EQ(reg.Read(HKCU, key, "zeta")->text, "/z2.ini");
  EXPECT_EQ(reg.Read(HKCU, key, "")->text, "default value");

  ASSERT_TRUE(reg.DeleteValue(HKCU, key, "ALPHA"));
  EXPECT_FALSE(reg.DeleteValue(HKCU, key, "alpha"));
  ASSERT_TRUE(reg.WriteText(HKCU, key, "alpha", "/a.ini"));
  EXPECT_EQ(reg.ValueNames(HKCU, key), (std::vector<std::string>{"Zeta", "Mid", "alpha"}));
}

TEST(Registry, RenameKeepsThePlaceAndRefusesToMergeTwoValues) {
  TempDir dir;
  Registry reg(dir / "registry.ini");
  const char* key = "Software\\Corvane3";
  reg.WriteText(HKCU, key, "docs", "/d.ini");
  reg.WriteText(HKCU, key, "photos", "/p.ini");
  ASSERT_TRUE(reg.RenameValue(HKCU, key, "docs", "Docs"));  // a change of letter case only
  EXPECT_EQ(reg.ValueNames(HKCU, key), (std::vector<std::string>{"Docs", "photos"}));
  EXPECT_FALSE(reg.RenameValue(HKCU, key, "Docs", "PHOTOS"));
  EXPECT_FALSE(reg.RenameValue(HKCU, key, "missing", "x"));
  ASSERT_TRUE(reg.RenameValue(HKCU, key, "Docs", "Papers"));
  EXPECT_EQ(reg.ValueNames(HKCU, key), (std::vector<std::string>{"Papers", "photos"}));
  EXPECT_EQ(reg.Read(HKCU, key, "papers")->text, "/d.ini");
}

TEST(Registry, KeysExistWithoutValuesAndObserversHearEveryChange) {
  TempDir dir;
  Recorder rec;
  Registry reg(dir / "registry.ini", &rec);
  EXPECT_FALSE(reg.KeyExists(HKCU, "Software\\Corvane3\\inc"));
  ASSERT_TRUE(reg.CreateKey(HKCU, "Software\\Corvane3\\inc"));
  EXPECT_TRUE(reg.KeyExists(HKCU, "software\\corvane3\\INC\\"));
  EXPECT_TRUE(reg.ValueNames(HKCU, "Software\\Corvane3\\inc").empty());
  reg.WriteText(HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Corvane_3", "/opt/c/agent");
  reg.WriteText(HKCR, ".jcv", "", "jcv_file");
  reg.DeleteValue(HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "corvane_3");
  reg.DeleteValue(HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "corvane_3");  // nothing left
  EXPECT_EQ(rec.events, (std::vector<std::string>{
                            "HKEY_CURRENT_USER|Software\\Microsoft\\Windows\\CurrentVersion\\Run|Corvane_3=/opt/c/agent",
                            "HKEY_CLASSES_ROOT|.jcv|=jcv_file",
                            "HKEY_CURRENT_USER|Software\\Microsoft\\Windows\\CurrentVersion\\Run|corvane_3 deleted"}));
}

TEST(Registry, AStoreDamagedByHandReadsWhatItCanAndIsRepairedByWrites) {
  TempDir dir;
  test::WriteAll(dir / "registry.ini",
                 "[HKEY_CURRENT_USER\\Software\\Corvane3]\nGood=s:/g.ini\nNoType=/x.ini\nBadInt=d:12x\n\x01\x02garbage\n");
  Registry reg(dir / "registry.ini");
  EXPECT_EQ(reg.ValueNames(HKCU, "Software\\Corvane3"), (std::vector<std::string>{"Good"}));
  EXPECT_FALSE(reg.Read(HKCU, "Software\\Corvane3", "BadInt"));
  ASSERT_TRUE(reg.WriteInteger(HKCU, "Software\\Corvane3", "BadInt", 7));
  EXPECT_EQ(reg.Read(HKCU, "Software\\Corvane3", "BadInt")->number, 7u);
}

TEST(Registry, ConcurrentProcessesLoseNoValueAndKeepTheStoreWhole) {
  TempDir dir;
  const auto store = dir / "registry.ini";
  constexpr int kWriters = 4;
  constexpr int kValues = 60;
  std::vector<int> pids;
  for (int w = 0; w < kWriters; ++w) {
    pids.push_back(test::ForkChild([&, w] {
      Registry reg(store);
      for (int i = 0; i < kValues; ++i) {
        if (!reg.WriteText(HKCU, "Software\\Corvane3", "f" + std::to_string(w) + "_" + std::to_string(i),
                           "/p/" + std::to_string(i)))
          return 1;
      }
      return 0;
    }));
  }
  // A writer killed again and again beside them must not tear the store either.
  ASSERT_TRUE(Registry(store).WriteInteger(HKCU, "Software\\Corvane3\\inc", "Count", 0));
  std::mt19937 rng(7);
  for (int k = 0; k < 10; ++k) {
    int victim = test::ForkChild([&] {
      Registry reg(store);
      for (int i = 0; i < 100000; ++i) reg.WriteInteger(HKCU, "Software\\Corvane3\\inc", "Count", static_cast<std::uint32_t>(i));
      return 0;
    });
    ::usleep(2000 + rng() % 10000);
    ::kill(victim, SIGKILL);
    test::WaitChild(victim);
  }
  for (int pid : pids) EXPECT_EQ(test::WaitChild(pid), 0);
  ClearIniCache();
  Registry reg(store);
  auto names = reg.ValueNames(HKCU, "Software\\Corvane3");
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kWriters * kValues));
  // Each writer's own values stay in the order it created them.
  for (int w = 0; w < kWriters; ++w) {
    int expect = 0;
    for (const auto& n : names) {
      if (n.rfind("f" + std::to_string(w) + "_", 0) == 0) {
        EXPECT_EQ(n, "f" + std::to_string(w) + "_" + std::to_string(expect));
        ++expect;
      }
    }
    EXPECT_EQ(expect, kValues);
  }
  EXPECT_TRUE(reg.Read(HKCU, "Software\\Corvane3\\inc", "Count"));
}

}  // namespace
}  // namespace corvane::platform
