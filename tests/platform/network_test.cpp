#include "platform/network.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "util/process.h"
#include "util/temp_dir.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteAll;

// A network root laid out as CORVANE3_NETWORK_ROOT is: root/computer/share.
class PlainRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir_.path(), fs::perms(0755));
    fs::create_directories(dir_ / "root" / "Srv" / "Docs" / "sub" / "deeper");
    fs::create_directories(dir_ / "root" / "Srv" / "locked");
    fs::create_directories(dir_ / "root" / "Srv" / "Docs" / "listonly");
    WriteAll(dir_ / "root" / "Srv" / "Docs" / "file.txt", "x");
    fs::create_symlink("loop", dir_ / "root" / "Srv" / "Docs" / "loop");
    ::chmod((dir_ / "root" / "Srv" / "locked").c_str(), 0);
    ::chmod((dir_ / "root" / "Srv" / "Docs" / "listonly").c_str(), 0444);
    root_ = {dir_ / "root", false};
  }
  TempDir dir_;
  NetworkRoot root_;
};

// Permission bits are only real for a user that is not root.
int ProbeAsUnprivileged(const std::string& path, const NetworkRoot& root) {
  int pid = test::ForkChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 255;
    int code = ProbeNetworkPath(path, root);
    // Exit codes are 8 bits: say which of the interesting answers it was.
    switch (code) {
      case kNetOk: return 0;
      case kNetAccessDenied: return 5;
      case kNetNotFound: return 53;
      default: return 254;
    }
  });
  return test::WaitChild(pid);
}

TEST_F(PlainRoot, ProbeAnswersByWhatTheFolderPartFinds) {
  struct Case {
    const char* path;
    int code;
  };
  const Case cases[] = {
      {"//Srv/Docs/", kNetOk},
      {"//Srv/Docs", kNetOk},  // a share root probes the share, not the bare computer
      {"//Srv/Docs/sub/", kNetOk},
      {"//Srv/Docs/sub/deeper/", kNetOk},
      {"//Srv/Docs/sub/deeper", kNetOk},
      {"//Srv/Docs/not yet made", kNetOk},  // its folder part is the share
      {"//Srv/Docs/file.txt", kNetOk},
      {"//srv/DOCS/sub/", kNetOk},  // SMB names carry no case
      {"//Srv/Docs/missing/", kNetNotFound},
      {"//Srv/Docs/missing/more/x", kNetNotFound},
      {"//Srv/Docs/file.txt/", kNetNotFound},
      {"//Srv/Nope/", kNetNotFound},
      {"//Other/Docs/", kNetNotFound},
      {"//Srv/Docs/loop/", kNetErrnoBase + ELOOP},
      {"//Srv/Docs/sub/../sub/", kNetOk},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProbeNetworkPath(c.path, root_), c.code) << c.path;
  }
  std::string long_name = "//Srv/Docs/" + std::string(300, 'n') + "/";
  EXPECT_EQ(ProbeNetworkPath(long_name, root_), kNetErrnoBase + ENAMETOOLONG);
}

TEST_F(PlainRoot, ProbeRefusesTextsThatAreNoShare) {
  for (const char* path : {"//Srv", "//Srv/", "//", "///Docs/", "/local/folder", "relative/x", "",
                           "//Srv/Docs/../../../etc/", "//../Srv/Docs/", "//Srv/../Srv/", "//./Docs/"}) {
    EXPECT_EQ(ProbeNetworkPath(path, root_), kNetErrnoBase + EINVAL) << path;
    EXPECT_FALSE(ResolveNetworkPath(path, root_, "me") && std::string_view(path).substr(0, 2) == "//") << path;
  }
  EXPECT_EQ(ProbeNetworkPath(std::string_view("//Srv/Docs\0/x", 13), root_), kNetErrnoBase + EINVAL);
}

TEST_F(PlainRoot, ProbeReportsRefusedAccess) {
  EXPECT_EQ(ProbeAsUnprivileged("//Srv/locked/", root_), 5);
  EXPECT_EQ(ProbeAsUnprivileged("//Srv/locked/sub/", root_), 5);
  EXPECT_EQ(ProbeAsUnprivileged("//Srv/Docs/listonly/", root_), 5);  // readable, not searchable
  EXPECT_EQ(ProbeAsUnprivileged("//Srv/Docs/sub/", root_), 0);
}

TEST_F(PlainRoot, NoMountRootMeansNotFound) {
  NetworkRoot missing{dir_ / "no such root", false};
  EXPECT_EQ(ProbeNetworkPath("//Srv/Docs/", missing), kNetNotFound);
  NetworkRoot file_root{dir_ / "root" / "Srv" / "Docs" / "file.txt", false};
  EXPECT_EQ(ProbeNetworkPath("//Srv/Docs/", file_root), kNetNotFound);
}

TEST_F(PlainRoot, ResolvesToTheMountedShare) {
  struct Case {
    const char* path;
    const char* computer;
    std::optional<fs::path> local;  // relative to the root; nullopt: not under it
    bool local_computer;
  };
  const Case cases[] = {
      {"//Srv/Docs/sub/a.txt", "me", fs::path("Srv/Docs/sub/a.txt"), false},
      {"//SRV/docs/sub/", "me", fs::path("Srv/Docs/sub/"), false},
      {"//Srv/Docs", "me", fs::path("Srv/Docs"), false},
      {"//New/Share/x", "me", fs::path("New/Share/x"), false},  // where it would be mounted
      {"//Srv/Docs/x", "Srv", fs::path("Srv/Docs/x"), true},
      {"//Srv/Docs/x", "srv", fs::path("Srv/Docs/x"), false},   // the same case only
      {"//SrvX/Docs/x", "Srv", fs::path("SrvX/Docs/x"), false},  // the whole name, not a prefix
      {"/home/u/backup", "me", std::nullopt, true},
  };
  for (const auto& c : cases) {
    auto r = ResolveNetworkPath(c.path, root_, c.computer);
    ASSERT_TRUE(r) << c.path;
    EXPECT_EQ(r->local, c.local ? root_.path / *c.local : fs::path(c.path)) << c.path;
    EXPECT_EQ(r->local_computer, c.local_computer) << c.path;
    EXPECT_EQ(IsRemotePath(c.path, c.computer), !c.local_computer) << c.path;
  }
}

TEST(GvfsRoot, FindsMountsByServerAndShareWhateverTheOtherKeys) {
  TempDir dir;
  fs::path root = dir / "gvfs";
  fs::create_directories(root / "smb-share:server=nas,share=public" / "photos");
  fs::create_directories(root / "smb-share:domain=WORK,server=nas2,share=private,user=bob");
  fs::create_directories(root / "smb-share:server=nas,share=my%20files");
  fs::create_directories(root / "sftp:host=nas");
  NetworkRoot gvfs{root, true};
  struct Case {
    const char* path;
    int code;
    const char* folder;  // the mount it resolves under
  };
  const Case cases[] = {
      {"//nas/public/photos/", kNetOk, "smb-share:server=nas,share=public"},
      {"//NAS/Public/", kNetOk, "smb-share:server=nas,share=public"},
      {"//nas2/private/", kNetOk, "smb-share:domain=WORK,server=nas2,share=private,user=bob"},
      {"//nas/my files/", kNetOk, "smb-share:server=nas,share=my%20files"},
      {"//nas/public/none/", kNetNotFound, "smb-share:server=nas,share=public"},
      {"//nas/other/", kNetNotFound, "smb-share:server=nas,share=other"},
      {"//host=nas/x/", kNetNotFound, "smb-share:server=host=nas,share=x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProbeNetworkPath(c.path, gvfs), c.code) << c.path;
    auto r = ResolveNetworkPath(c.path, gvfs, "me");
    ASSERT_TRUE(r) << c.path;
    std::string local = r->local.string();
    EXPECT_EQ(local.rfind((root / c.folder).string(), 0), 0u) << c.path << " -> " << local;
  }
}

TEST(Network, ComputerNameIsTheKernelsHostName) {
  std::string expected = test::ReadAll("/proc/sys/kernel/hostname");
  while (!expected.empty() && expected.back() == '\n') expected.pop_back();
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(ComputerName(), expected);
}

TEST(Network, RootFromTheEnvironment) {
  struct Saved {
    const char* name;
    std::optional<std::string> value;
  };
  Saved saved[] = {{"CORVANE3_NETWORK_ROOT", {}}, {"XDG_RUNTIME_DIR", {}}};
  for (auto& s : saved)
    if (const char* v = std::getenv(s.name)) s.value = v;

  ::setenv("CORVANE3_NETWORK_ROOT", "/srv/shares", 1);
  NetworkRoot r = NetworkRootFromEnvironment();
  EXPECT_EQ(r.path, fs::path("/srv/shares"));
  EXPECT_FALSE(r.gvfs);
  ::unsetenv("CORVANE3_NETWORK_ROOT");
  ::setenv("XDG_RUNTIME_DIR", "/run/user/4321", 1);
  r = NetworkRootFromEnvironment();
  EXPECT_EQ(r.path, fs::path("/run/user/4321/gvfs"));
  EXPECT_TRUE(r.gvfs);

  for (auto& s : saved) {
    if (s.value) {
      ::setenv(s.name, s.value->c_str(), 1);
    } else {
      ::unsetenv(s.name);
    }
  }
}

}  // namespace
}  // namespace corvane::platform
