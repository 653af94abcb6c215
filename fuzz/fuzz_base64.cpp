// Base64 and the stored-secret cipher against arbitrary bytes: the tolerant
// decoder takes every text of a length divisible by 4, refuses every other,
// and gives the length the "=" rules say; encoding round-trips; a stored
// secret decrypts back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/base64.h"
#include "support/stored_secret.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    std::string bytes = corvane::Base64Decode(text);
    if (size % 4 != 0) std::abort();
    std::size_t expected = size / 4 * 3;
    if (size != 0) {
      if (text[size - 2] == '=') {
        expected -= 2;
      } else if (text[size - 1] == '=') {
        expected -= 1;
      }
    }
    if (bytes.size() != expected) std::abort();
  } catch (const corvane::Base64Error&) {
    if (size % 4 == 0) std::abort();
  }

  std::string encoded = corvane::Base64Encode(text);
  if (encoded.size() != (size + 2) / 3 * 4 || corvane::Base64Decode(encoded) != text) std::abort();

  std::string_view key = text.substr(0, size / 3);
  std::string_view secret = text.substr(size / 3);
  if (corvane::DecryptSetting(corvane::EncryptSetting(secret, key), key) != secret) std::abort();
  return 0;
}
