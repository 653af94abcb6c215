// How the container reports what goes wrong, and that failures never leave
// partial output or damage what was there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <set>
#include <string>

#include "support/container.h"
#include "util/process.h"
#include "util/temp_dir.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using test::ReadAll;
using test::WriteAll;

using test::Listing;

template <typename Fn>
ContainerError Catch(Fn fn) {
  try {
    fn();
  } catch (const ContainerError& e) {
    return e;
  }
  ADD_FAILURE() << "no ContainerError";
  return ContainerError(ContainerError::Kind::Open, {}, {}, "none");
}

TEST(ContainerBroken, ReaderSurvivesEveryBrokenFile) {
  test::TempDir dir;
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(CORVANE_TEST_DATA "/broken/containers")) {
    if (entry.path().extension() != ".ccv") continue;
    ++seen;
    const fs::path dest = dir / "out";
    const auto size = fs::file_size(entry.path());
    for (const char* password : {"", "password", "q3nd7vkr"}) {
      SCOPED_TRACE(entry.path().filename().string() + " / \"" + password + "\"");
      if (size < kContainerHeaderSize) {
        ContainerError e = Catch([&] { DecryptContainerToFile(entry.path(), dest, password); });
        EXPECT_EQ(e.kind(), ContainerError::Kind::Read);
        EXPECT_EQ(e.path(), entry.path());
        EXPECT_NE(std::string(e.what()).find(entry.path().string()), std::string::npos) << e.what();
      } else {
        EXPECT_EQ(DecryptContainerToFile(entry.path(), dest, password), DecryptResult::WrongPassword);
      }
      EXPECT_TRUE(Listing(dir.path()).empty()) << "output left behind";
    }
  }
  EXPECT_GE(seen, 5) << "the broken-inputs folder went missing";
}

TEST(ContainerErrors, OpenAndCreateFailuresNameThePath) {
  test::TempDir dir;
  const fs::path missing = dir / "missing.doc";
  ContainerError e = Catch([&] { EncryptFileToContainer(missing, "pw"); });
  EXPECT_EQ(e.kind(), ContainerError::Kind::Open);
  EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
  EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos) << e.what();

  e = Catch([&] { DecryptContainerToFile(missing, dir / "x", "pw"); });
  EXPECT_EQ(e.kind(), ContainerError::Kind::Open);

  // A folder is not a file to encrypt or decrypt.
  fs::create_directory(dir / "folder");
  e = Catch([&] { EncryptFileToContainer(dir / "folder", "pw"); });
  EXPECT_EQ(e.kind(), ContainerError::Kind::Open);
  EXPECT_FALSE(fs::exists(dir / "folder.ccv"));

  WriteAll(dir / "plain", "text");
  fs::path container = EncryptFileToContainer(dir / "plain", "pw");
  const fs::path nowhere = dir / "no such folder" / "plain";
  e = Catch([&] { DecryptContainerToFile(container, nowhere, "pw"); });
  EXPECT_EQ(e.kind(), ContainerError::Kind::Write);
  EXPECT_NE(std::string(e.what()).find(nowhere.string()), std::string::npos) << e.what();

  // A folder in the destination's place is not replaced.
  e = Catch([&] { DecryptContainerToFile(container, dir / "folder", "pw"); });
  EXPECT_EQ(e.kind(), ContainerError::Kind::Write);
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"folder", "plain", "plain.ccv"}));
}

// A write that fails midway (here: the file size limit) leaves the previous
// file under the output name intact and no temporary behind, both ways.
TEST(ContainerErrors, FailureMidwayKeepsPreviousOutput) {
  test::TempDir dir;
  const std::string plain(100000, 'p');
  WriteAll(dir / "doc", plain);
  const fs::path container = EncryptFileToContainer(dir / "doc", "pw");
  const std::string good_container = ReadAll(container);
  WriteAll(dir / "restored", "previous restored file");

  auto limited = [&](auto&& body) {
    int pid = test::ForkChild([&]() -> int {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit lim{20000, 20000};
      if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 10;
      try {
        body();
      } catch (const ContainerError& e) {
        return e.kind() == ContainerError::Kind::Write && e.code() == std::errc::file_too_large ? 0 : 11;
      }
      return 12;  // a failed write reported as success
    });
    return test::WaitChild(pid);
  };

  EXPECT_EQ(limited([&] { EncryptFileToContainer(dir / "doc", "another password"); }), 0);
  EXPECT_EQ(ReadAll(container), good_container);

  EXPECT_EQ(limited([&] { DecryptContainerToFile(container, dir / "restored", "pw"); }), 0);
  EXPECT_EQ(ReadAll(dir / "restored"), "previous restored file");

  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"doc", "doc.ccv", "restored"}));
}

}  // namespace
}  // namespace corvane
