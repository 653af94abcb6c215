// The container reader against arbitrary files. An input whose first byte is
// odd gets the valid header of the fixed password in front of the rest, so
// that the body path is reached too. Whatever the file: a short one is a read
// error, a wrong header writes nothing, and a valid one decrypts to a file
// that encrypts back to exactly the same container.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/container.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kPassword = "fuzz password";

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

struct Workspace {
  fs::path dir;
  std::string header;  // the header kPassword gives

  Workspace() {
    std::string templ = (fs::temp_directory_path() / "corvane-fuzz-container-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    dir = templ;
    Put(dir / "empty", "");
    header = Slurp(corvane::EncryptFileToContainer(dir / "empty", kPassword));
    if (header.size() != corvane::kContainerHeaderSize) std::abort();
    fs::remove(dir / "empty");
    fs::remove(dir / "empty.ccv");
  }
  ~Workspace() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Workspace ws;
  std::string file(reinterpret_cast<const char*>(data), size);
  if (size > 0 && (data[0] & 1) != 0) file = ws.header + file.substr(1);
  const fs::path container = ws.dir / "input.ccv";
  const fs::path plain = ws.dir / "input";
  Put(container, file);

  const bool valid = file.size() >= corvane::kContainerHeaderSize &&
                     file.compare(0, corvane::kContainerHeaderSize, ws.header) == 0;
  try {
    corvane::DecryptResult r = corvane::DecryptContainerToFile(container, plain, kPassword);
    if (file.size() < corvane::kContainerHeaderSize) std::abort();  // no header, yet an answer
    if ((r == corvane::DecryptResult::Done) != valid) std::abort();
    if (!valid) {
      if (fs::exists(plain)) std::abort();  // a wrong password wrote something
    } else {
      if (fs::file_size(plain) != file.size() - corvane::kContainerHeaderSize) std::abort();
      fs::remove(container);
      corvane::EncryptFileToContainer(plain, kPassword);
      if (Slurp(container) != file) std::abort();
    }
  } catch (const corvane::ContainerError& e) {
    if (e.kind() != corvane::ContainerError::Kind::Read || file.size() >= corvane::kContainerHeaderSize) std::abort();
  }
  std::error_code ec;
  fs::remove(plain, ec);
  fs::remove(container, ec);
  return 0;
}
