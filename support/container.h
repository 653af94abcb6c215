// The encrypted-file container (".ccv"): a 32-byte header that identifies
// the password, then the plain file's bytes under CAST-128 CBC with the tail
// rule, exactly as long as the plain file. The same file and password always
// give the same container.
//
// Both operations deliver their output through a temporary file in the
// output's folder that is renamed over the output name only once complete:
// a failed or killed run never leaves a truncated file under that name and
// never damages a file that was there before.
#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace corvane {

inline constexpr std::string_view kContainerExtension = ".ccv";
inline constexpr std::size_t kContainerHeaderSize = 32;
inline constexpr std::size_t kContainerChunkSize = 8192;

// An input that cannot be opened or read, or an output that cannot be
// written, with the path concerned. A file too short to hold the header is a
// Read error with no system error code.
class ContainerError : public std::runtime_error {
 public:
  enum class Kind { Open, Read, Write };
  ContainerError(Kind kind, std::filesystem::path path, std::error_code code, const std::string& what)
      : std::runtime_error(what), kind_(kind), path_(std::move(path)), code_(code) {}

  Kind kind() const { return kind_; }
  const std::filesystem::path& path() const { return path_; }
  std::error_code code() const { return code_; }

 private:
  Kind kind_;
  std::filesystem::path path_;
  std::error_code code_;
};

enum class DecryptResult { Done, WrongPassword };

// Writes `source` + ".ccv", replacing a file of that name, and returns that
// path. Throws ContainerError.
std::filesystem::path EncryptFileToContainer(const std::filesystem::path& source, std::string_view password);
// The same container written at `target` instead (a run's intermediate
// files live in its own work folder, never beside the source).
void EncryptFileToContainer(const std::filesystem::path& source, std::string_view password,
                            const std::filesystem::path& target);

// Checks the header against the password before anything is created: on a
// wrong password the destination is not touched at all. Otherwise creates or
// replaces `destination`. Throws ContainerError.
DecryptResult DecryptContainerToFile(const std::filesystem::path& container,
                                     const std::filesystem::path& destination, std::string_view password);

}  // namespace corvane
