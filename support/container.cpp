#include "support/container.h"

#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <utility>

#include "support/cast128.h"
#include "support/sha1.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using Chunk = std::array<unsigned char, kContainerChunkSize>;

[[noreturn]] void Fail(ContainerError::Kind kind, const fs::path& path, int err, const char* doing) {
  std::error_code code(err, std::generic_category());
  throw ContainerError(kind, path, code, std::string(doing) + " " + path.string() + ": " + code.message());
}


platform::UniqueFd OpenInput(const fs::path& path) {
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) Fail(ContainerError::Kind::Open, path, errno, "cannot open");
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) Fail(ContainerError::Kind::Open, path, errno, "cannot open");
  if (S_ISDIR(st.st_mode)) Fail(ContainerError::Kind::Open, path, EISDIR, "cannot open");
  return fd;
}

// Fills the whole buffer unless the input ends: a short read in the middle
// (a pipe, a signal) must not be taken for the end, or the tail rule would
// be applied mid-stream and the rest lost.
std::size_t ReadFull(int fd, unsigned char* buf, std::size_t n, const fs::path& path) {
  std::size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, buf + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail(ContainerError::Kind::Read, path, errno, "cannot read");
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

void WriteFull(int fd, const unsigned char* buf, std::size_t n, const fs::path& path) {
  std::size_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd, buf + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      Fail(ContainerError::Kind::Write, path, errno, "cannot write");
    }
    done += static_cast<std::size_t>(w);
  }
}

// The output under a temporary name in its final folder; Commit renames it
// over the final name, anything else removes it.
class PendingOutput {
 public:
  explicit PendingOutput(fs::path final_path) : final_(std::move(final_path)) {
    fs::path folder = final_.parent_path();
    // Short enough for any file name limit, long enough to be recognised.
    std::string stem = final_.filename().string().substr(0, 64);
    std::random_device seed;
    std::mt19937_64 rng((std::uint64_t{seed()} << 32) ^ seed() ^ static_cast<std::uint64_t>(::getpid()));
    for (int attempt = 0; attempt < 64; ++attempt) {
      char suffix[24];
      std::snprintf(suffix, sizeof suffix, ".%012llx.part",
                    static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
      temp_ = folder / ("." + stem + suffix);
      // 0666 under the umask, as a plainly created file would be.
      int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        fd_.Reset(fd);
        break;
      }
      if (errno != EEXIST) Fail(ContainerError::Kind::Write, final_, errno, "cannot create");
    }
    if (fd_.get() < 0) Fail(ContainerError::Kind::Write, final_, EEXIST, "cannot create");
    // A replaced file keeps its permissions.
    struct stat st;
    if (::stat(final_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd_.get(), st.st_mode & 07777);
  }

  ~PendingOutput() {
    if (committed_) return;
    fd_.Close();
    ::unlink(temp_.c_str());
  }

  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  void Write(const unsigned char* buf, std::size_t n) {
    WriteFull(fd_.get(), buf, n, final_);
    // Start the write-back of what is done while the cipher works on: the
    // flush that makes a delivery durable then finds little left to do.
    // Only a hint; its failure changes nothing.
    written_ += n;
    if (written_ - kicked_ >= kWriteBackStep) {
      ::sync_file_range(fd_.get(), static_cast<off_t>(kicked_), static_cast<off_t>(written_ - kicked_),
                        SYNC_FILE_RANGE_WRITE);
      kicked_ = written_;
    }
  }

  void Commit() {
    if (fd_.Close() != 0) Fail(ContainerError::Kind::Write, final_, errno, "cannot write");
    if (::rename(temp_.c_str(), final_.c_str()) != 0) Fail(ContainerError::Kind::Write, final_, errno, "cannot replace");
    committed_ = true;
  }

 private:
  static constexpr std::uint64_t kWriteBackStep = 8u << 20;
  fs::path final_;
  fs::path temp_;
  platform::UniqueFd fd_;
  bool committed_ = false;
  std::uint64_t written_ = 0;
  std::uint64_t kicked_ = 0;
};

struct Scrub {
  void* p;
  std::size_t n;
  ~Scrub() { OPENSSL_cleanse(p, n); }
};

// Keys the cipher from the password and returns the header it implies; the
// chain is restarted for the body.
void KeyForContainer(TCast128& cipher, std::string_view password,
                     std::array<unsigned char, kContainerHeaderSize>& header) {
  header.fill(0xFF);
  TSha1 hash;
  hash.Start();
  hash.UpdateText(password);
  hash.Finish(header.data());
  cipher.SetKey(header.data(), std::min(cipher.MaxKeySize(), 256));
  cipher.CbcEncrypt(header.data(), header.data(), header.size());
  cipher.RestartChain();
}

}  // namespace

fs::path EncryptFileToContainer(const fs::path& source, std::string_view password) {
  fs::path target = source;
  target += kContainerExtension;
  EncryptFileToContainer(source, password, target);
  return target;
}

void EncryptFileToContainer(const fs::path& source, std::string_view password, const fs::path& target) {
  platform::UniqueFd in = OpenInput(source);

  TCast128 cipher;  // wipes itself if we leave early
  std::array<unsigned char, kContainerHeaderSize> header;
  KeyForContainer(cipher, password, header);

  PendingOutput out(target);
  out.Write(header.data(), header.size());
  Chunk chunk;
  Scrub scrub{chunk.data(), chunk.size()};
  for (;;) {
    std::size_t n = ReadFull(in.get(), chunk.data(), chunk.size(), source);
    cipher.CbcEncrypt(chunk.data(), chunk.data(), n);
    out.Write(chunk.data(), n);
    if (n < chunk.size()) break;
  }
  cipher.Wipe();
  out.Commit();
}

DecryptResult DecryptContainerToFile(const fs::path& container, const fs::path& destination,
                                     std::string_view password) {
  platform::UniqueFd in = OpenInput(container);

  TCast128 cipher;
  std::array<unsigned char, kContainerHeaderSize> expected;
  KeyForContainer(cipher, password, expected);

  std::array<unsigned char, kContainerHeaderSize> header;
  if (ReadFull(in.get(), header.data(), header.size(), container) < header.size()) {
    throw ContainerError(ContainerError::Kind::Read, container, {},
                         container.string() + " is not a container: shorter than its " +
                             std::to_string(kContainerHeaderSize) + "-byte header");
  }
  if (CRYPTO_memcmp(header.data(), expected.data(), header.size()) != 0) {
    cipher.Wipe();
    return DecryptResult::WrongPassword;
  }

  PendingOutput out(destination);
  Chunk chunk;
  Scrub scrub{chunk.data(), chunk.size()};
  for (;;) {
    std::size_t n = ReadFull(in.get(), chunk.data(), chunk.size(), container);
    cipher.CbcDecrypt(chunk.data(), chunk.data(), n);
    out.Write(chunk.data(), n);
    if (n < chunk.size()) break;
  }
  cipher.Wipe();
  out.Commit();
  return DecryptResult::Done;
}

}  // namespace corvane
