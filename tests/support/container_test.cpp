#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/cast128.h"
#include "support/container.h"
#include "support/cipher_test_util.h"
#include "util/temp_dir.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using test::ReadAll;
using test::WriteAll;

using test::Listing;

class ContainerTest : public ::testing::Test {
 protected:
  // Writes `plain` to `name`, encrypts it and returns the container's bytes.
  std::string Seal(const std::string& name, const std::string& plain, const std::string& password) {
    WriteAll(dir_ / name, plain);
    fs::path out = EncryptFileToContainer(dir_ / name, password);
    EXPECT_EQ(out, dir_ / (name + ".ccv"));
    return ReadAll(out);
  }

  std::string Open(const std::string& name, const std::string& password) {
    fs::path dest = dir_ / (name + ".out");
    EXPECT_EQ(DecryptContainerToFile(dir_ / (name + ".ccv"), dest, password), DecryptResult::Done);
    return ReadAll(dest);
  }

  test::TempDir dir_;
};

// The whole file format against the reference, across chunk boundaries and
// passwords (empty and non-ASCII included), and back.
TEST_F(ContainerTest, MatchesReferenceAndDecrypts) {
  std::mt19937 rng(1628);
  const std::vector<std::size_t> lengths = {0, 1, 5, 7, 8, 9, 31, 32, 33, 100, 8191, 8192, 8193, 8200, 16384, 16391, 20001};
  const std::vector<std::string> passwords = {"", "password", "d\xC3\xA9j\xC3\xA0 vu", std::string(100, 'p')};
  struct Case {
    std::string password, plain, container;
  };
  std::vector<Case> cases;
  std::vector<std::string> lines;
  int i = 0;
  for (std::size_t n : lengths) {
    for (const std::string& pw : passwords) {
      std::string plain = test::RandomBytes(rng, n);
      std::string name = "f" + std::to_string(i++);
      cases.push_back({pw, plain, Seal(name, plain, pw)});
      lines.push_back("container " + test::Field(pw) + " " + test::Field(plain));
      EXPECT_EQ(Open(name, pw), plain) << n << " bytes";
    }
  }
  auto expected = test::RunOracle(lines);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    EXPECT_EQ(cases[k].container.size(), 32 + cases[k].plain.size());
    EXPECT_TRUE(test::Field(cases[k].container) == expected[k])
        << cases[k].plain.size() << " bytes, password of " << cases[k].password.size();
  }
}

TEST_F(ContainerTest, EmptyFile) {
  std::string c = Seal("empty", "", "pw");
  EXPECT_EQ(c.size(), 32u);
  fs::path dest = dir_ / "empty.out";
  ASSERT_EQ(DecryptContainerToFile(dir_ / "empty.ccv", dest, "pw"), DecryptResult::Done);
  EXPECT_TRUE(fs::exists(dest));
  EXPECT_EQ(fs::file_size(dest), 0u);
}

// The tail rule worked out by hand from the container's own bytes.
TEST_F(ContainerTest, TailRule) {
  TCast128 cipher;
  cipher.SetKeyFromText("pw");
  auto iv = cipher.IV();

  std::string c = Seal("five", "hello", "pw");
  ASSERT_EQ(c.size(), 37u);
  unsigned char k[8];
  cipher.BlockEncrypt(iv.data(), k);
  for (int j = 0; j < 5; ++j) EXPECT_EQ(static_cast<unsigned char>(c[32 + j]), "hello"[j] ^ k[j]) << j;

  // One full chunk and one byte: the byte is taken against the last
  // ciphertext block of the chunk, the chain having run through the chunk.
  std::mt19937 rng(3);
  std::string plain = test::RandomBytes(rng, 8193);
  c = Seal("chunk1", plain, "pw");
  ASSERT_EQ(c.size(), 32u + 8193);
  cipher.BlockEncrypt(c.data() + 32 + 8184, k);
  EXPECT_EQ(static_cast<unsigned char>(c[32 + 8192]), static_cast<unsigned char>(plain[8192]) ^ k[0]);
  std::string body = plain.substr(0, 8192);
  cipher.RestartChain();
  cipher.CbcEncrypt(body.data(), body.data(), body.size());
  EXPECT_EQ(c.substr(32, 8192), body);

  // Exactly one chunk: all full blocks.
  std::string exact = plain.substr(0, 8192);
  c = Seal("chunk", exact, "pw");
  ASSERT_EQ(c.size(), 32u + 8192);
  EXPECT_EQ(c.substr(32), body);
  EXPECT_EQ(Open("chunk", "pw"), exact);
  EXPECT_EQ(Open("chunk1", "pw"), plain);
}

TEST_F(ContainerTest, HeaderDependsOnPasswordOnly) {
  std::string a = Seal("a", "first file", "one");
  std::string b = Seal("b", std::string(20000, 'z'), "one");
  std::string c = Seal("c", "first file", "two");
  EXPECT_EQ(a.substr(0, 32), b.substr(0, 32));
  EXPECT_NE(a.substr(0, 32), c.substr(0, 32));
  EXPECT_EQ(Seal("a", "first file", "one"), a) << "same file and password, same bytes";
}

TEST_F(ContainerTest, WrongPasswordTouchesNothing) {
  Seal("doc", "the plain text", "right");
  const fs::path container = dir_ / "doc.ccv";

  const fs::path absent = dir_ / "absent";
  auto before = Listing(dir_.path());
  EXPECT_EQ(DecryptContainerToFile(container, absent, "wrong"), DecryptResult::WrongPassword);
  EXPECT_EQ(Listing(dir_.path()), before) << "nothing created, not even a temporary";

  const fs::path existing = dir_ / "existing";
  WriteAll(existing, "keep me");
  struct stat st_before{};
  ASSERT_EQ(::stat(existing.c_str(), &st_before), 0);
  EXPECT_EQ(DecryptContainerToFile(container, existing, ""), DecryptResult::WrongPassword);
  struct stat st_after{};
  ASSERT_EQ(::stat(existing.c_str(), &st_after), 0);
  EXPECT_EQ(ReadAll(existing), "keep me");
  EXPECT_EQ(st_after.st_ino, st_before.st_ino);
  EXPECT_EQ(st_after.st_mtim.tv_nsec, st_before.st_mtim.tv_nsec);
  EXPECT_EQ(st_after.st_mtim.tv_sec, st_before.st_mtim.tv_sec);
}

// The whole header is the password check: a change in any of its bytes,
// with the right password, is refused.
TEST_F(ContainerTest, EveryHeaderByteCounts) {
  const std::string good = Seal("doc", "body bytes", "pw");
  for (std::size_t at = 0; at < kContainerHeaderSize; ++at) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x01);
    WriteAll(dir_ / "bad.ccv", bad);
    EXPECT_EQ(DecryptContainerToFile(dir_ / "bad.ccv", dir_ / "bad", "pw"), DecryptResult::WrongPassword) << at;
  }
  EXPECT_FALSE(fs::exists(dir_ / "bad"));
}

TEST_F(ContainerTest, EncryptedTwiceDecryptsInTwoSteps) {
  const std::string plain = "a document of some length, " + std::string(9000, 'x');
  WriteAll(dir_ / "a.doc", plain);
  fs::path once = EncryptFileToContainer(dir_ / "a.doc", "inner");
  fs::path twice = EncryptFileToContainer(once, "outer");
  EXPECT_EQ(twice, dir_ / "a.doc.ccv.ccv");
  EXPECT_EQ(ReadAll(dir_ / "a.doc"), plain) << "the plain file stays";
  fs::remove(dir_ / "a.doc");
  fs::remove(once);

  ASSERT_EQ(DecryptContainerToFile(twice, once, "inner"), DecryptResult::WrongPassword);
  ASSERT_EQ(DecryptContainerToFile(twice, once, "outer"), DecryptResult::Done);
  ASSERT_EQ(DecryptContainerToFile(once, dir_ / "a.doc", "inner"), DecryptResult::Done);
  EXPECT_EQ(ReadAll(dir_ / "a.doc"), plain);
}

// Outputs are replaced whole (an old longer file leaves no tail) and a
// replaced destination keeps its permissions.
TEST_F(ContainerTest, ReplacesOutputsWhole) {
  WriteAll(dir_ / "r.ccv", std::string(50000, 'o'));
  std::string c = Seal("r", "short", "pw");
  EXPECT_EQ(c.size(), 37u);

  const fs::path dest = dir_ / "dest";
  WriteAll(dest, std::string(50000, 'o'));
  ASSERT_EQ(::chmod(dest.c_str(), 0640), 0);
  ASSERT_EQ(DecryptContainerToFile(dir_ / "r.ccv", dest, "pw"), DecryptResult::Done);
  EXPECT_EQ(ReadAll(dest), "short");
  struct stat st{};
  ASSERT_EQ(::stat(dest.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"dest", "r", "r.ccv"}));
}

long PeakRssKiB() {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Several hundred MiB through both directions without the peak resident set
// growing: the body goes through one chunk buffer, never the whole file.
TEST_F(ContainerTest, LargeFileInConstantMemory) {
  constexpr off_t kSize = 300LL << 20;
  const fs::path plain = dir_ / "big";
  {
    std::ofstream out(plain, std::ios::binary);
    out << "start";
  }
  ASSERT_EQ(::truncate(plain.c_str(), kSize - 3), 0);  // sparse, quick to make
  {
    std::ofstream out(plain, std::ios::binary | std::ios::app);
    out << "end";
  }
  const long baseline = PeakRssKiB();

  fs::path container = EncryptFileToContainer(plain, "big");
  fs::remove(plain);
  ASSERT_EQ(fs::file_size(container), static_cast<std::uintmax_t>(kSize) + 32);
  ASSERT_EQ(DecryptContainerToFile(container, plain, "big"), DecryptResult::Done);
  fs::remove(container);

  const long growth_kib = PeakRssKiB() - baseline;
  EXPECT_LT(growth_kib, 16 * 1024) << "peak RSS grew by " << growth_kib << " KiB";

  ASSERT_EQ(fs::file_size(plain), static_cast<std::uintmax_t>(kSize));
  std::ifstream in(plain, std::ios::binary);
  char head[5], middle[16], tail[3];
  in.read(head, 5);
  in.seekg(kSize / 2 - 8);  // across a chunk boundary
  in.read(middle, 16);
  in.seekg(kSize - 3);
  in.read(tail, 3);
  EXPECT_EQ(std::string(head, 5), "start");
  EXPECT_EQ(std::string(middle, 16), std::string(16, '\0'));
  EXPECT_EQ(std::string(tail, 3), "end");
}

}  // namespace
}  // namespace corvane
