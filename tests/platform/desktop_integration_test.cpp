#include "platform/desktop_integration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "util/process.h"
#include "util/temp_dir.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::RunCommand;
using test::TempDir;
using test::WriteAll;

constexpr auto HKCU = RegRoot::CurrentUser;
constexpr auto HKCR = RegRoot::ClassesRoot;
constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const fs::path kValidator = "/usr/bin/desktop-file-validate";
const fs::path kUpdateMime = "/usr/bin/update-mime-database";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> Leftovers(const fs::path& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    std::string n = e.path().filename().string();
    if (Contains(n, ".corvane-")) found.push_back(n);
  }
  return found;
}

// A desktop of its own in a temporary folder, a store, and the integration
// observing the store.
class Desktop : public ::testing::Test {
 protected:
  void Start(DesktopTools tools) {
    places_ = {dir_ / "config" / "autostart", dir_ / "data", dir_ / "config"};
    integration_ = std::make_unique<DesktopIntegration>(places_, RegistryViewOfStore(store()), tools);
    registry_ = std::make_unique<Registry>(store(), integration_.get());
  }
  fs::path store() const { return dir_ / "config" / "corvane3" / "registry.ini"; }
  fs::path entry() const { return places_.autostart_dir / "Corvane_3.desktop"; }
  fs::path package() const { return places_.data_home / "mime" / "packages" / "corvane3.xml"; }
  fs::path mimeapps() const { return places_.config_home / "mimeapps.list"; }

  // A stand-in for xdg-mime answering the given script body.
  fs::path FakeXdgMime(const std::string& body) {
    fs::path p = dir_ / "bin" / "xdg-mime";
    fs::create_directories(p.parent_path());
    WriteAll(p, "#!/bin/sh\n" + body + "\n");
    ::chmod(p.c_str(), 0755);
    return p;
  }

  // What the agent writes at every start.
  void WriteAgentFileTypes() {
    ASSERT_TRUE(registry_->WriteText(HKCR, ".jcv", "", "jcv_file"));
    ASSERT_TRUE(registry_->WriteText(HKCR, "jcv_file\\shell\\open\\command", "", "NOTEPAD.EXE %1"));
    ASSERT_TRUE(registry_->WriteText(HKCR, "jcv_file\\DefaultIcon", "", "NOTEPAD.EXE,0"));
    ASSERT_TRUE(registry_->WriteText(HKCR, ".cal", "", "cal_file"));
    ASSERT_TRUE(registry_->WriteText(HKCR, "cal_file\\shell\\open\\command", "", "NOTEPAD.EXE %1"));
    ASSERT_TRUE(registry_->WriteText(HKCR, "cal_file\\DefaultIcon", "", "NOTEPAD.EXE,0"));
    ASSERT_TRUE(registry_->WriteText(HKCR, ".ccv", "", "ccv_file"));
    ASSERT_TRUE(registry_->WriteText(HKCR, "ccv_file\\DefaultIcon", "", "/opt/corvane3/Corvgestion.exe,1"));
  }

  // "type glob subclasses" lines of the package, as Python's XML parser reads it.
  std::string ParsedPackage() {
    const char* script =
        "import sys, xml.etree.ElementTree as ET\n"
        "ns = {'m': 'http://www.freedesktop.org/standards/shared-mime-info'}\n"
        "root = ET.parse(sys.argv[1]).getroot()\n"
        "assert root.tag == '{%s}mime-info' % ns['m']\n"
        "for t in root.findall('m:mime-type', ns):\n"
        "    subs = ','.join(s.get('type') for s in t.findall('m:sub-class-of', ns)) or '-'\n"
        "    for g in t.findall('m:glob', ns):\n"
        "        print(t.get('type'), g.get('pattern'), subs)\n";
    auto r = RunCommand({CORVANE_PYTHON, "-c", script, package().string()});
    EXPECT_EQ(r.exit_code, 0) << "the package does not parse:\n" << ReadAll(package());
    return r.output;
  }

  TempDir dir_;
  DesktopPlaces places_;
  std::unique_ptr<DesktopIntegration> integration_;
  std::unique_ptr<Registry> registry_;
};

TEST_F(Desktop, RunValueMakesAValidAutostartEntryAndItsDeletionRemovesIt) {
  ASSERT_TRUE(fs::exists(kValidator)) << "desktop-file-utils is not installed";
  Start({});
  ASSERT_TRUE(registry_->WriteText(HKCU, kRun, "Corvane_3", "/opt/corvane3/corvane-agent"));
  ASSERT_TRUE(fs::exists(entry()));
  std::string content = ReadAll(entry());
  EXPECT_EQ(content.rfind("[Desktop Entry]\n", 0), 0u) << content;
  for (const char* line : {"\nType=Application\n", "\nName=Corvane 3\n", "\nExec=/opt/corvane3/corvane-agent\n",
                           "\nX-GNOME-Autostart-enabled=true\n"})
    EXPECT_TRUE(Contains(content, line)) << line << " in\n" << content;
  auto v = RunCommand({kValidator.string(), entry().string()});
  EXPECT_EQ(v.exit_code, 0) << v.output;
  EXPECT_EQ(fs::status(entry()).permissions(), fs::perms(0644));

  // Names match without regard to case; a new value replaces the entry.
  ASSERT_TRUE(registry_->WriteText(HKCU, "software\\microsoft\\windows\\currentversion\\run", "CORVANE_3",
                                   "/usr/lib/corvane3/corvane-agent"));
  EXPECT_TRUE(Contains(ReadAll(entry()), "\nExec=/usr/lib/corvane3/corvane-agent\n"));
  EXPECT_TRUE(Leftovers(places_.autostart_dir).empty());

  // Other values, keys and roots are not ours.
  ASSERT_TRUE(registry_->WriteText(HKCU, kRun, "Other", "/usr/bin/other"));
  ASSERT_TRUE(registry_->DeleteValue(HKCU, kRun, "Other"));
  ASSERT_TRUE(registry_->WriteText(HKCU, "Software\\Corvane3", "Corvane_3", "/x.ini"));
  ASSERT_TRUE(registry_->DeleteValue(HKCU, "Software\\Corvane3", "Corvane_3"));
  ASSERT_TRUE(registry_->WriteText(HKCR, kRun, "Corvane_3", ""));
  ASSERT_TRUE(registry_->DeleteValue(HKCR, kRun, "Corvane_3"));
  EXPECT_TRUE(Contains(ReadAll(entry()), "\nExec=/usr/lib/corvane3/corvane-agent\n"));

  ASSERT_TRUE(registry_->DeleteValue(HKCU, kRun, "corvane_3"));
  EXPECT_FALSE(fs::exists(entry()));
  EXPECT_TRUE(fs::is_directory(places_.autostart_dir));
}

TEST_F(Desktop, ProgramPathsAreQuotedAsTheDesktopEntryFormatAsks) {
  ASSERT_TRUE(fs::exists(kValidator)) << "desktop-file-utils is not installed";
  Start({});
  struct Case {
    const char* program;
    const char* exec;  // the Exec= value as it must stand in the file
  };
  const Case cases[] = {
      {"/opt/corvane3/corvane-agent", "/opt/corvane3/corvane-agent"},
      {"/opt/Corvane 3/corvane-agent", "\"/opt/Corvane 3/corvane-agent\""},
      {"/opt/it's/agent", "\"/opt/it's/agent\""},
      {"/opt/a\"b/agent", "\"/opt/a\\\\\"b/agent\""},
      {"/opt/$x`y/agent", "\"/opt/\\\\$x\\\\`y/agent\""},
      {"/opt/back\\slash/agent", "\"/opt/back\\\\\\\\slash/agent\""},
      {"/opt/100%/agent", "/opt/100%%/agent"},
      {"/opt/a b%/agent", "\"/opt/a b%%/agent\""},
      {"/opt/caf\xc3\xa9 (x86)/agent", "\"/opt/caf\xc3\xa9 (x86)/agent\""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(registry_->WriteText(HKCU, kRun, "Corvane_3", c.program));
    std::string content = ReadAll(entry());
    EXPECT_TRUE(Contains(content, std::string("\nExec=") + c.exec + "\n")) << c.program << ":\n" << content;
    auto v = RunCommand({kValidator.string(), entry().string()});
    EXPECT_EQ(v.exit_code, 0) << c.program << ": " << v.output;
  }
  // Values no entry can hold leave none, rather than a broken or stale one.
  for (std::string bad : {std::string(""), std::string("/opt/a\nb"), std::string("/opt/\xff/agent"),
                          std::string("/opt/a\tb")}) {
    ASSERT_TRUE(registry_->WriteText(HKCU, kRun, "Corvane_3", "/opt/corvane3/corvane-agent"));
    ASSERT_TRUE(fs::exists(entry()));
    ASSERT_TRUE(registry_->WriteText(HKCU, kRun, "Corvane_3", bad));
    EXPECT_FALSE(fs::exists(entry())) << bad;
  }
  ASSERT_TRUE(registry_->WriteText(HKCU, kRun, "Corvane_3", "/opt/corvane3/corvane-agent"));
  ASSERT_TRUE(registry_->WriteInteger(HKCU, kRun, "Corvane_3", 1));
  EXPECT_FALSE(fs::exists(entry()));
}

TEST_F(Desktop, AgentFileTypesBecomeAMimePackageAndADatabase) {
  ASSERT_TRUE(fs::exists(kUpdateMime)) << "shared-mime-info is not installed";
  DesktopTools tools = FindDesktopTools("relative/bin:" + kUpdateMime.parent_path().string());
  ASSERT_EQ(tools.update_mime_database, kUpdateMime);
  tools.xdg_mime.clear();
  Start(tools);
  WriteAgentFileTypes();
  EXPECT_EQ(ParsedPackage(),
            "application/x-corvane3-cal_file *.cal text/plain\n"
            "application/x-corvane3-ccv_file *.ccv -\n"
            "application/x-corvane3-jcv_file *.jcv text/plain\n");
  std::string globs = ReadAll(places_.data_home / "mime" / "globs2");
  for (const char* g : {":application/x-corvane3-jcv_file:*.jcv", ":application/x-corvane3-cal_file:*.cal",
                        ":application/x-corvane3-ccv_file:*.ccv"})
    EXPECT_TRUE(Contains(globs, g)) << g << " in\n" << globs;
  std::string subclasses = ReadAll(places_.data_home / "mime" / "subclasses");
  EXPECT_TRUE(Contains(subclasses, "application/x-corvane3-jcv_file text/plain"));
  EXPECT_FALSE(Contains(subclasses, "application/x-corvane3-ccv_file"));
  // Without xdg-mime no default application is set: the sub-class does it.
  EXPECT_FALSE(fs::exists(mimeapps()));
  EXPECT_TRUE(Leftovers(package().parent_path()).empty());

  // A type losing its open command is no text any more; a removed
  // extension leaves the package, and the database follows.
  ASSERT_TRUE(registry_->DeleteValue(HKCR, "cal_file\\shell\\open\\command", ""));
  ASSERT_TRUE(registry_->DeleteValue(HKCR, ".jcv", ""));
  EXPECT_EQ(ParsedPackage(),
            "application/x-corvane3-cal_file *.cal -\n"
            "application/x-corvane3-ccv_file *.ccv -\n");
  globs = ReadAll(places_.data_home / "mime" / "globs2");
  EXPECT_FALSE(Contains(globs, "*.jcv"));
  EXPECT_TRUE(Contains(globs, "*.cal"));
  ASSERT_TRUE(registry_->DeleteValue(HKCR, ".cal", ""));
  ASSERT_TRUE(registry_->DeleteValue(HKCR, ".ccv", ""));
  EXPECT_FALSE(fs::exists(package()));
  EXPECT_FALSE(Contains(ReadAll(places_.data_home / "mime" / "globs2"), "corvane3"));
}

TEST_F(Desktop, OddExtensionsAndTypeNamesNeverBreakThePackage) {
  Start({});
  const std::pair<const char*, const char*> values[] = {
      {".x&y", "Type <One> & \"Two\""},   // escaped
      {".JCV", "jcv_file"},               // one glob per extension whatever its case
      {".jcv", "jcv_file"},
      {".caf\xc3\xa9", "caf\xc3\xa9_file"},  // UTF-8 kept
      {".j*v", "star_file"},              // a glob character: left out
      {".bad\xff", "bad_file"},           // not UTF-8: left out
      {".", "dot_file"},                  // no extension: left out
      {".empty", ""},                     // names no type: left out
  };
  for (const auto& [key, type] : values) ASSERT_TRUE(registry_->WriteText(HKCR, key, "", type));
  ASSERT_TRUE(registry_->WriteText(HKCR, "jcv_file\\shell\\open\\command", "", "NOTEPAD.EXE %1"));
  ASSERT_TRUE(registry_->WriteInteger(HKCR, ".num", "", 7));  // a number names no type either
  EXPECT_EQ(ParsedPackage(),
            "application/x-corvane3-caf--_file *.caf\xc3\xa9 -\n"
            "application/x-corvane3-jcv_file *.jcv text/plain\n"
            "application/x-corvane3-type--one-----two- *.x&y -\n");
}

TEST_F(Desktop, DefaultApplicationsFollowTheTextTypesAndKeepEveryOtherLine) {
  fs::create_directories(dir_ / "config");
  const std::string before =
      "# my associations\n"
      "[Added Associations]\n"
      "text/plain=vim.desktop;\n"
      "\n"
      "[Default Applications]\n"
      "image/png=gimp.desktop\n"
      "application/x-corvane3-gone_file=old.desktop\n"
      "\n"
      "[Removed Associations]\n"
      "text/html=bad.desktop;\n";
  WriteAll(dir_ / "config" / "mimeapps.list", before);
  DesktopTools tools;
  tools.xdg_mime = FakeXdgMime("[ \"$1 $2 $3\" = \"query default text/plain\" ] || exit 3\n"
                               "echo org.example.Editor.desktop");
  Start(tools);
  WriteAgentFileTypes();
  EXPECT_EQ(ReadAll(mimeapps()),
            "# my associations\n"
            "[Added Associations]\n"
            "text/plain=vim.desktop;\n"
            "\n"
            "[Default Applications]\n"
            "image/png=gimp.desktop\n"
            "application/x-corvane3-jcv_file=org.example.Editor.desktop\n"
            "application/x-corvane3-cal_file=org.example.Editor.desktop\n"
            "\n"
            "[Removed Associations]\n"
            "text/html=bad.desktop;\n");

  ASSERT_TRUE(registry_->DeleteValue(HKCR, ".cal", ""));
  EXPECT_EQ(ReadAll(mimeapps()),
            "# my associations\n"
            "[Added Associations]\n"
            "text/plain=vim.desktop;\n"
            "\n"
            "[Default Applications]\n"
            "image/png=gimp.desktop\n"
            "application/x-corvane3-jcv_file=org.example.Editor.desktop\n"
            "\n"
            "[Removed Associations]\n"
            "text/html=bad.desktop;\n");
  EXPECT_TRUE(Leftovers(dir_ / "config").empty());
}

TEST_F(Desktop, DefaultApplicationsSectionIsAddedWhenMissing) {
  DesktopTools tools;
  tools.xdg_mime = FakeXdgMime("echo org.example.Editor.desktop");
  fs::create_directories(dir_ / "config");
  WriteAll(dir_ / "config" / "mimeapps.list", "[Added Associations]\ntext/plain=vim.desktop;");  // no line end
  Start(tools);
  WriteAgentFileTypes();
  EXPECT_EQ(ReadAll(mimeapps()),
            "[Added Associations]\n"
            "text/plain=vim.desktop;\n"
            "\n"
            "[Default Applications]\n"
            "application/x-corvane3-jcv_file=org.example.Editor.desktop\n"
            "application/x-corvane3-cal_file=org.example.Editor.desktop\n");
}

TEST_F(Desktop, AnUntrustworthyOrHangingXdgMimeSetsNothing) {
  struct Case {
    const char* what;
    const char* body;
  };
  const Case cases[] = {
      {"not a desktop id", "echo 'evil.desktop;x=y.desktop'"},
      {"no answer", "exit 0"},
      {"failure", "echo org.example.Editor.desktop; exit 1"},
      {"hangs, with a child of its own", "sleep 1000 & sleep 1000"},
  };
  for (const auto& c : cases) {
    TempDir fresh;
    DesktopTools tools;
    tools.xdg_mime = FakeXdgMime(c.body);
    tools.timeout = std::chrono::milliseconds(300);
    DesktopPlaces places{fresh / "autostart", fresh / "data", fresh / "config"};
    DesktopIntegration integration(places, RegistryViewOfStore(fresh / "registry.ini"), tools);
    Registry registry(fresh / "registry.ini", &integration);
    ASSERT_TRUE(registry.WriteText(HKCR, ".jcv", "", "jcv_file"));
    ASSERT_TRUE(registry.WriteText(HKCR, "jcv_file\\shell\\open\\command", "", "NOTEPAD.EXE %1"));
    EXPECT_TRUE(fs::exists(fresh / "data" / "mime" / "packages" / "corvane3.xml")) << c.what;
    EXPECT_FALSE(fs::exists(fresh / "config" / "mimeapps.list")) << c.what;
  }
}

TEST_F(Desktop, SyncAllCatchesUpWithAStoreWrittenWithoutObserver) {
  ASSERT_TRUE(fs::exists(kValidator)) << "desktop-file-utils is not installed";
  {
    Registry plain(store());
    ASSERT_TRUE(plain.WriteText(HKCU, kRun, "Corvane_3", "/opt/corvane3/corvane-agent"));
    ASSERT_TRUE(plain.WriteText(HKCR, "\\.cal\\", "", "cal_file"));
  }
  Start({});
  EXPECT_FALSE(fs::exists(entry()));
  integration_->SyncAll();
  EXPECT_TRUE(Contains(ReadAll(entry()), "\nExec=/opt/corvane3/corvane-agent\n"));
  EXPECT_EQ(ParsedPackage(), "application/x-corvane3-cal_file *.cal -\n");
  {
    Registry plain(store());
    ASSERT_TRUE(plain.DeleteValue(HKCU, kRun, "Corvane_3"));
  }
  integration_->SyncAll();
  EXPECT_FALSE(fs::exists(entry()));
}

}  // namespace
}  // namespace corvane::platform
