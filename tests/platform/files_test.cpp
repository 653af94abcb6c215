#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "util/process.h"
#include "util/temp_dir.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

void SetMtime(const fs::path& p, std::int64_t sec, long nsec) {
  timespec t[2] = {{sec, nsec}, {sec, nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), t, AT_SYMLINK_NOFOLLOW), 0) << p;
}

timespec Mtime(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mtim;
}

// Names of our temporary files left in a folder.
std::vector<std::string> Leftovers(const fs::path& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    std::string n = e.path().filename().string();
    if (n.find(".corvane-") != std::string::npos) found.push_back(n);
  }
  return found;
}

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 977) & 0xff);
  return s;
}

// Runs `body` as an unprivileged user when we are root, so that permission
// bits mean what they say; returns the child's exit code.
int AsUnprivileged(const std::function<int()>& body) {
  int pid = test::ForkChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 90;
    return body();
  });
  return test::WaitChild(pid);
}

TEST(ListDirectory, SortsByBytesAndDescribesEveryKindOfEntry) {
  TempDir dir;
  WriteAll(dir / "b", "bb");
  WriteAll(dir / "a", "a");
  WriteAll(dir / "Z", "");
  WriteAll(dir / ".hidden", "12345");
  WriteAll(dir / "\xc3\xa9t\xc3\xa9", "x");  // "été": bytes above ASCII sort last
  fs::create_directory(dir / "sub");
  fs::create_symlink(dir / "sub", dir / "link");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  SetMtime(dir / "b", 4102444800, 123456789);  // 2100, with nanoseconds

  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(dir.path(), entries));
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{".hidden", "Z", "a", "b", "dangling", "link", "sub",
                                             "\xc3\xa9t\xc3\xa9"}));
  auto find = [&](const std::string& n) -> const DirEntry& {
    for (const auto& e : entries)
      if (e.name == n) return e;
    throw std::runtime_error("missing " + n);
  };
  EXPECT_TRUE(find(".hidden").hidden);
  EXPECT_EQ(find(".hidden").size, 5u);
  EXPECT_FALSE(find("a").hidden);
  EXPECT_FALSE(find("a").is_directory);
  EXPECT_TRUE(find("a").is_regular);
  EXPECT_FALSE(find("sub").is_regular);
  EXPECT_FALSE(find("dangling").is_regular);
  const DirEntry& b = find("b");
  EXPECT_EQ(b.size, 2u);
  EXPECT_EQ(b.modified.time_since_epoch(), std::chrono::seconds(4102444800) + std::chrono::nanoseconds(123456789));
  EXPECT_TRUE(find("sub").is_directory);
  EXPECT_FALSE(find("sub").is_symlink);
  EXPECT_TRUE(find("link").is_directory);
  EXPECT_TRUE(find("link").is_symlink);
  EXPECT_FALSE(find("dangling").is_directory);
  EXPECT_TRUE(find("dangling").is_symlink);

  auto info = GetFileInfo(dir / "b");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->modified, b.modified);
  EXPECT_FALSE(GetFileInfo(dir / "missing"));
}

TEST(ListDirectory, ReportsWhatCannotBeListed) {
  TempDir dir;
  WriteAll(dir / "file", "x");
  struct Case {
    fs::path path;
    int error;
  };
  for (const Case& c : {Case{dir / "missing", ENOENT}, Case{dir / "file", ENOTDIR}}) {
    std::vector<DirEntry> entries(3);
    FileResult r = ListDirectory(c.path, entries);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, c.error) << c.path;
    EXPECT_NE(r.message.find(c.path.string()), std::string::npos) << r.message;
    EXPECT_TRUE(entries.empty());
  }
}

// Every copy is checked both ways it can keep its bytes before delivery:
// an unnamed file where the file system allows it, and the named
// temporary other file systems get.
class CopyKinds : public ::testing::TestWithParam<StagingKind> {};
INSTANTIATE_TEST_SUITE_P(Staging, CopyKinds, ::testing::Values(StagingKind::Any, StagingKind::Named),
                         [](const auto& kind) { return kind.param == StagingKind::Any ? "Unnamed" : "Named"; });

TEST_P(CopyKinds, KeepsBytesModeAndNanosecondTimeAndReplacesTheTarget) {
  TempDir dir;
  fs::create_directory(dir / "dest");
  std::string content = Pattern(3 * 1024 * 1024 + 17);
  WriteAll(dir / "src.bin", content);
  ::chmod((dir / "src.bin").c_str(), 0640);
  SetMtime(dir / "src.bin", 1710506707, 987654321);
  // A longer old target: nothing of its tail may survive.
  WriteAll(dir / "dest" / "src.bin", std::string(5 * 1024 * 1024, 'o'));

  FileResult r = CopyFileReplacing(dir / "src.bin", dir / "dest" / "src.bin", GetParam());
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(ReadAll(dir / "dest" / "src.bin"), content);
  timespec m = Mtime(dir / "dest" / "src.bin");
  EXPECT_EQ(m.tv_sec, 1710506707);
  EXPECT_EQ(m.tv_nsec, 987654321);
  EXPECT_EQ(fs::status(dir / "dest" / "src.bin").permissions(), fs::perms(0640));
  EXPECT_TRUE(Leftovers(dir / "dest").empty());

  // An empty source gives an empty file, under a new name too.
  WriteAll(dir / "empty", "");
  ASSERT_TRUE(CopyFileReplacing(dir / "empty", dir / "dest" / "empty copy", GetParam()));
  EXPECT_EQ(FileSize(dir / "dest" / "empty copy"), 0u);
  EXPECT_TRUE(Leftovers(dir / "dest").empty());
}

TEST_P(CopyKinds, FailuresNameTheCauseAndLeaveNoTemporaryFile) {
  TempDir dir;
  fs::create_directory(dir / "dest");
  fs::create_directory(dir / "dest" / "a folder");
  WriteAll(dir / "dest" / "a folder" / "inside", "kept");
  WriteAll(dir / "src", "new");
  WriteAll(dir / "dest" / "old", "old content");
  fs::create_directory(dir / "srcdir");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // must not wait for a writer
  struct Case {
    const char* what;
    fs::path source, destination;
    int error;
    fs::path named;  // the path the message must name
  };
  const Case cases[] = {
      {"missing source", dir / "nothing", dir / "dest" / "old", ENOENT, dir / "nothing"},
      {"source is a folder", dir / "srcdir", dir / "dest" / "old", EISDIR, dir / "srcdir"},
      {"source is a FIFO", dir / "fifo", dir / "dest" / "old", EINVAL, dir / "fifo"},
      {"destination folder missing", dir / "src", dir / "dest" / "no" / "old", ENOENT, dir / "dest" / "no"},
      {"destination is a folder", dir / "src", dir / "dest" / "a folder", EISDIR, dir / "dest" / "a folder"},
  };
  for (const auto& c : cases) {
    FileResult r = CopyFileReplacing(c.source, c.destination, GetParam());
    EXPECT_FALSE(r) << c.what;
    EXPECT_EQ(r.error, c.error) << c.what << ": " << r.message;
    EXPECT_NE(r.message.find(c.named.string()), std::string::npos) << c.what << ": " << r.message;
    EXPECT_TRUE(Leftovers(dir / "dest").empty()) << c.what;
    EXPECT_EQ(ReadAll(dir / "dest" / "old"), "old content") << c.what;
    EXPECT_EQ(ReadAll(dir / "dest" / "a folder" / "inside"), "kept") << c.what;
  }
}

TEST(CopyFileReplacing, UnreadableSourceLeavesTheTargetAlone) {
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  WriteAll(dir / "secret", "x");
  ::chmod((dir / "secret").c_str(), 0);
  WriteAll(dir / "target", "old");
  ::chmod((dir / "target").c_str(), 0666);
  int rc = AsUnprivileged([&] {
    FileResult r = CopyFileReplacing(dir / "secret", dir / "target");
    if (r.ok()) return 1;
    return r.error == EACCES ? 0 : 2;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadAll(dir / "target"), "old");
  EXPECT_TRUE(Leftovers(dir.path()).empty());
}

// A file-size limit makes the copy fail (or be killed) after its first
// megabyte, at a known point and without timing.
int CopyUnderSizeLimit(const fs::path& source, const fs::path& destination, bool killed, StagingKind kind) {
  rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
  ::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
  rlimit limit{1 << 20, 1 << 20};
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 91;
  FileResult r = CopyFileReplacing(source, destination, kind);
  if (r.ok()) return 1;
  return r.error == EFBIG ? 0 : 2;
}

TEST_P(CopyKinds, WriteFailureMidwayKeepsTheOldTarget) {
  TempDir dir;
  std::string big = Pattern(4 * 1024 * 1024);
  WriteAll(dir / "big", big);
  WriteAll(dir / "target", "the previous version");
  int rc = test::WaitChild(test::ForkChild([&] { return CopyUnderSizeLimit(dir / "big", dir / "target", false, GetParam()); }));
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadAll(dir / "target"), "the previous version");
  EXPECT_TRUE(Leftovers(dir.path()).empty());
}

TEST_P(CopyKinds, KilledCopyNeverTruncatesTheDeliveredName) {
  TempDir dir;
  std::string big = Pattern(4 * 1024 * 1024);
  WriteAll(dir / "big", big);
  WriteAll(dir / "target", "the previous version");
  int rc = test::WaitChild(test::ForkChild([&] { return CopyUnderSizeLimit(dir / "big", dir / "target", true, GetParam()); }));
  EXPECT_EQ(rc, -SIGXFSZ);
  EXPECT_EQ(ReadAll(dir / "target"), "the previous version");
  // A fresh name is not created at all until the copy is complete.
  rc = test::WaitChild(test::ForkChild([&] { return CopyUnderSizeLimit(dir / "big", dir / "fresh", true, GetParam()); }));
  EXPECT_EQ(rc, -SIGXFSZ);
  EXPECT_FALSE(fs::exists(dir / "fresh"));
  if (GetParam() == StagingKind::Any) {
    EXPECT_TRUE(Leftovers(dir.path()).empty()) << "an unnamed copy leaves nothing";
  }
}

TEST_P(CopyKinds, LargeSparseFileKeepsItsSizeDataAndHoles) {
  TempDir dir;
  const std::uint64_t size = (5ull << 30) + 12345;  // past 32 bits
  const off_t middle = off_t{3} << 30;
  {
    int fd = ::open((dir / "sparse").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "head", 4, 0), 4);
    ASSERT_EQ(::pwrite(fd, "middle", 6, middle), 6);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
  }
  struct stat src {};
  ASSERT_EQ(::stat((dir / "sparse").c_str(), &src), 0);
  ASSERT_LT(src.st_blocks * 512, 1 << 20) << "the test folder's file system does not keep holes";
  EXPECT_EQ(FileSize(dir / "sparse"), size);

  FileResult r = CopyFileReplacing(dir / "sparse", dir / "copy", GetParam());
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(FileSize(dir / "copy"), size);
  struct stat dst {};
  ASSERT_EQ(::stat((dir / "copy").c_str(), &dst), 0);
  EXPECT_LT(dst.st_blocks * 512, 16 << 20) << "holes were filled";
  int fd = ::open((dir / "copy").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char buf[8] = {};
  EXPECT_EQ(::pread(fd, buf, 4, 0), 4);
  EXPECT_EQ(std::string(buf, 4), "head");
  EXPECT_EQ(::pread(fd, buf, 8, middle - 1), 8);
  EXPECT_EQ(std::string(buf, 8), std::string("\0middle\0", 8));
  EXPECT_EQ(::pread(fd, buf, 8, static_cast<off_t>(size) - 4), 4);
  EXPECT_EQ(std::string(buf, 4), std::string(4, '\0'));
  ::close(fd);
}

// From tmpfs to the test folder's file system, where copy_file_range
// refuses to cross and the copy takes its other road.
TEST(CopyFileReplacing, AcrossFileSystems) {
  ASSERT_TRUE(fs::is_directory("/dev/shm")) << "no tmpfs at /dev/shm";
  TempDir dir;
  struct ShmFile {
    fs::path path = fs::path("/dev/shm") / ("corvane-files-test-" + std::to_string(::getpid()));
    ~ShmFile() { ::unlink(path.c_str()); }
  } shm;
  struct stat a {}, b {};
  ASSERT_EQ(::stat("/dev/shm", &a), 0);
  ASSERT_EQ(::stat(dir.path().c_str(), &b), 0);
  ASSERT_NE(a.st_dev, b.st_dev) << "/dev/shm is not a file system of its own here";

  std::string content = Pattern(2 * 1024 * 1024 + 5);
  WriteAll(shm.path, content);
  {
    int fd = ::open(shm.path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "tail", 4, 64 << 20), 4);  // a hole between data and tail
    ::close(fd);
  }
  SetMtime(shm.path, 946684800, 1);
  FileResult r = CopyFileReplacing(shm.path, dir / "copy");
  ASSERT_TRUE(r) << r.message;
  std::string copy = ReadAll(dir / "copy");
  ASSERT_EQ(copy.size(), (64u << 20) + 4);
  EXPECT_EQ(copy.substr(0, content.size()), content);
  EXPECT_EQ(copy.substr(copy.size() - 4), "tail");
  EXPECT_EQ(copy.find_first_not_of('\0', content.size()), copy.size() - 4);
  EXPECT_EQ(Mtime(dir / "copy").tv_nsec, 1);
}

TEST(WriteFileAtomically, NewModeExistingModeAndLinksKept) {
  TempDir dir;
  ASSERT_TRUE(WriteFileAtomically(dir / "new", "one", 0640));
  EXPECT_EQ(ReadAll(dir / "new"), "one");
  EXPECT_EQ(fs::status(dir / "new").permissions(), fs::perms(0640));
  ::chmod((dir / "new").c_str(), 0600);
  ASSERT_TRUE(WriteFileAtomically(dir / "new", "two", 0644));
  EXPECT_EQ(ReadAll(dir / "new"), "two");
  EXPECT_EQ(fs::status(dir / "new").permissions(), fs::perms(0600));
  // Through a symbolic link the file it points to is replaced; the link stays.
  fs::create_directory(dir / "dotfiles");
  WriteAll(dir / "dotfiles" / "real", "old");
  fs::create_symlink(dir / "dotfiles" / "real", dir / "link");
  ASSERT_TRUE(WriteFileAtomically(dir / "link", "three"));
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(ReadAll(dir / "dotfiles" / "real"), "three");
  EXPECT_TRUE(Leftovers(dir.path()).empty());
  EXPECT_TRUE(Leftovers(dir / "dotfiles").empty());
  FileResult r = WriteFileAtomically(dir / "missing" / "f", "x");
  EXPECT_EQ(r.error, ENOENT);
}

TEST(FileOperations, CreateDirectoriesDeleteAndSharedRead) {
  TempDir dir;
  ASSERT_TRUE(CreateDirectories(dir / "a" / "b" / "c"));
  EXPECT_TRUE(DirectoryExists(dir / "a" / "b" / "c"));
  EXPECT_TRUE(CreateDirectories(dir / "a" / "b"));  // already there
  WriteAll(dir / "a" / "file", "x");
  EXPECT_EQ(CreateDirectories(dir / "a" / "file" / "d").error, ENOTDIR);
  EXPECT_EQ(CreateDirectories(dir / "a" / "file").error, ENOTDIR);
  EXPECT_FALSE(CreateDirectories(""));

  EXPECT_TRUE(FileExists(dir / "a" / "file"));
  EXPECT_FALSE(FileExists(dir / "a"));
  EXPECT_FALSE(DirectoryExists(dir / "a" / "file"));
  EXPECT_FALSE(FileSize(dir / "a"));

  // Another writer goes on while the file is open for reading.
  SharedReadFile f = SharedReadFile::Open(dir / "a" / "file");
  ASSERT_TRUE(f.is_open());
  WriteAll(dir / "a" / "file", "xyz");
  char buf[8];
  EXPECT_EQ(f.Read(buf, sizeof buf), 3);
  SharedReadFile moved = std::move(f);
  EXPECT_FALSE(f.is_open());
  EXPECT_TRUE(moved.is_open());

  EXPECT_EQ(DeleteFile(dir / "a" / "b").error, EISDIR);
  EXPECT_TRUE(DirectoryExists(dir / "a" / "b"));
  ASSERT_TRUE(DeleteFile(dir / "a" / "file"));
  EXPECT_FALSE(fs::exists(dir / "a" / "file"));
  FileResult r = DeleteFile(dir / "a" / "file");
  EXPECT_EQ(r.error, ENOENT);
  FileResult open_result;
  EXPECT_FALSE(SharedReadFile::Open(dir / "a" / "file", &open_result).is_open());
  EXPECT_EQ(open_result.error, ENOENT);
}

TEST_P(CopyKinds, StagedCopyIsDeliveredOnlyWhenCommittedAndLeavesNothingWhenDropped) {
  const std::size_t named = GetParam() == StagingKind::Named ? 1 : 0;
  TempDir dir;
  WriteAll(dir / "src", "new content");
  SetMtime(dir / "src", 1700000000, 123456789);
  WriteAll(dir / "dst", "old");
  {
    StagedCopy staged;
    ASSERT_TRUE(StageCopy(dir / "src", dir / "dst", staged, GetParam()).ok());
    EXPECT_TRUE(staged.staged());
    EXPECT_TRUE(staged.replaces());
    EXPECT_EQ(ReadAll(dir / "dst"), "old") << "nothing delivered before the commit";
    EXPECT_EQ(Leftovers(dir.path()).size(), named);
  }
  EXPECT_EQ(ReadAll(dir / "dst"), "old");
  EXPECT_TRUE(Leftovers(dir.path()).empty()) << "a dropped copy leaves nothing";

  StagedCopy staged;
  ASSERT_TRUE(StageCopy(dir / "src", dir / "dst", staged, GetParam()).ok());
  ASSERT_TRUE(staged.Flush().ok());
  ASSERT_TRUE(FlushFileSystem(dir.path()).ok());
  ASSERT_TRUE(staged.Commit().ok());
  EXPECT_FALSE(staged.staged());
  EXPECT_FALSE(staged.Commit().ok()) << "a copy is delivered once";
  EXPECT_EQ(ReadAll(dir / "dst"), "new content");
  EXPECT_EQ(Mtime(dir / "dst").tv_nsec, 123456789);
  EXPECT_TRUE(Leftovers(dir.path()).empty());

  // Staged onto a free name that something takes before the commit: the
  // commit replaces it as a whole.
  StagedCopy fresh;
  ASSERT_TRUE(StageCopy(dir / "src", dir / "fresh", fresh, GetParam()).ok());
  EXPECT_FALSE(fresh.replaces());
  WriteAll(dir / "fresh", "taken meanwhile, and longer than the copy");
  ASSERT_TRUE(fresh.Commit().ok());
  EXPECT_EQ(ReadAll(dir / "fresh"), "new content");
  EXPECT_TRUE(Leftovers(dir.path()).empty());

  // A caller's stale word about the name changes the cost, never the result.
  for (bool said_taken : {false, true}) {
    const fs::path target = dir / (said_taken ? "said taken" : "said free");
    if (!said_taken) WriteAll(target, "there after all, and longer");
    StagedCopy c;
    ASSERT_TRUE(StageCopy(dir / "src", target, c, GetParam(), said_taken).ok());
    ASSERT_TRUE(c.Commit().ok());
    EXPECT_EQ(ReadAll(target), "new content") << target;
  }
  EXPECT_TRUE(Leftovers(dir.path()).empty());

  StagedCopy missing;
  EXPECT_FALSE(StageCopy(dir / "absent", dir / "x", missing, GetParam()).ok());
  EXPECT_FALSE(missing.staged());
  EXPECT_FALSE(FlushFileSystem(dir / "absent").ok());
}

// Many staged at once, as a run's batch: each holds one descriptor until
// its commit, and dropping them all leaves the folder as it was.
TEST(StagedCopy, ABatchOfUnnamedCopiesDeliversEveryFile) {
  TempDir dir;
  fs::create_directory(dir / "out");
  std::vector<StagedCopy> batch(300);
  for (std::size_t i = 0; i < batch.size(); ++i) {
    WriteAll(dir / ("s" + std::to_string(i)), std::to_string(i));
    ASSERT_TRUE(StageCopy(dir / ("s" + std::to_string(i)), dir / "out" / std::to_string(i), batch[i]).ok()) << i;
  }
  EXPECT_TRUE(fs::is_empty(dir / "out"));
  for (std::size_t i = 0; i < batch.size(); i += 2) ASSERT_TRUE(batch[i].Commit().ok()) << i;
  batch.clear();
  std::size_t delivered = 0;
  for (const auto& e : fs::directory_iterator(dir / "out")) {
    ++delivered;
    EXPECT_EQ(ReadAll(e.path()), e.path().filename().string());
  }
  EXPECT_EQ(delivered, 150u);
}

TEST(RemoveStaleTemporaries, RemovesOnlyUnlockedTemporariesOfOurPattern) {
  TempDir dir;
  const std::vector<std::string> stale = {".a.txt.corvane-Ab12Cd", ".rapport final.doc.corvane-000000"};
  // Names a user may have, and things that are not plain files.
  const std::vector<std::string> kept_files = {".bashrc.Ab12Cd", "a.txt.corvane-Ab12Cd", ".a.corvane-Ab12C",
                                               ".a.corvane-Ab12Cd7", ".corvane-Ab12Cd", ".a.txt.corvane-Ab_2Cd",
                                               "plain.txt"};
  for (const auto& n : stale) WriteAll(dir / n, "left by a killed copy");
  for (const auto& n : kept_files) WriteAll(dir / n, "user");
  fs::create_directory(dir / ".d.corvane-Ab12Cd");
  fs::create_symlink(dir / "plain.txt", dir / ".l.corvane-Ab12Cd");
  fs::create_directory(dir / "sub");
  WriteAll(dir / "sub" / ".s.corvane-Ab12Cd", "another folder's");
  // Two live writers: a staged copy of this process and a file some other
  // writer holds locked.
  WriteAll(dir / "src", "staged");
  StagedCopy live;
  ASSERT_TRUE(StageCopy(dir / "src", dir / "dst", live, StagingKind::Named).ok());
  WriteAll(dir / ".held.corvane-Zz99Zz", "locked");
  int held = ::open((dir / ".held.corvane-Zz99Zz").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  EXPECT_EQ(RemoveStaleTemporaries(dir.path()), stale.size());
  for (const auto& n : stale) EXPECT_FALSE(fs::exists(dir / n)) << n;
  for (const auto& n : kept_files) EXPECT_EQ(ReadAll(dir / n), "user") << n;
  EXPECT_TRUE(fs::is_directory(dir / ".d.corvane-Ab12Cd"));
  EXPECT_TRUE(fs::is_symlink(dir / ".l.corvane-Ab12Cd"));
  EXPECT_TRUE(fs::exists(dir / "sub" / ".s.corvane-Ab12Cd")) << "subfolders are left to their own deliveries";
  EXPECT_TRUE(fs::exists(dir / ".held.corvane-Zz99Zz"));
  auto left = Leftovers(dir.path());
  EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.rfind(".dst.corvane-", 0) == 0; }),
            1);
  ASSERT_TRUE(live.Commit().ok()) << "a live staged copy survives and is delivered";
  EXPECT_EQ(ReadAll(dir / "dst"), "staged");

  // Once its holder is gone the held one is stale too.
  ::close(held);
  EXPECT_EQ(RemoveStaleTemporaries(dir.path()), 1u);
  EXPECT_FALSE(fs::exists(dir / ".held.corvane-Zz99Zz"));
  EXPECT_EQ(RemoveStaleTemporaries(dir / "missing"), 0u);
}

TEST_P(CopyKinds, AWriterInAnotherProcessKeepsItsTemporaryUntilItDies) {
  const bool named = GetParam() == StagingKind::Named;
  TempDir dir;
  WriteAll(dir / "big", Pattern(1 << 20));
  fs::create_directories(dir / "out");
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  int pid = test::ForkChild([&] {
    StagedCopy staged;
    if (!StageCopy(dir / "big", dir / "out" / "big", staged, GetParam()).ok()) return 1;
    // Staged (and a named one locked): tell the parent, then wait to be killed.
    if (::write(pipe_fds[1], "s", 1) != 1) return 2;
    for (int i = 0; i < 600; ++i) ::sleep(1);
    return 3;
  });
  char c = 0;
  ASSERT_EQ(::read(pipe_fds[0], &c, 1), 1);
  EXPECT_EQ(RemoveStaleTemporaries(dir / "out"), 0u) << "the living writer's temporary stays";
  EXPECT_EQ(Leftovers(dir / "out").size(), named ? 1u : 0u);
  ::kill(pid, SIGKILL);
  EXPECT_EQ(test::WaitChild(pid), -SIGKILL);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  if (named) {
    ASSERT_EQ(Leftovers(dir / "out").size(), 1u) << "the kill left its temporary";
    EXPECT_EQ(RemoveStaleTemporaries(dir / "out"), 1u);
  }
  EXPECT_TRUE(fs::is_empty(dir / "out")) << "nothing under any name";
}

}  // namespace
}  // namespace corvane::platform
