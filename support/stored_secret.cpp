#include "support/stored_secret.h"

#include <openssl/crypto.h>

#include "support/base64.h"
#include "support/cast128.h"

namespace corvane {
namespace {

// The plain secret passes through this buffer; scrub it whatever happens.
struct ScrubbedBytes {
  std::string bytes;
  ~ScrubbedBytes() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

std::string_view KeyOrDefault(std::string_view key) { return key.empty() ? kDefaultSettingKey : key; }

}  // namespace

std::string EncryptSetting(std::string_view secret, std::string_view key) {
  TCast128 cipher;
  cipher.SetKeyFromText(KeyOrDefault(key));
  ScrubbedBytes work{std::string(secret)};
  cipher.Cfb8Encrypt(work.bytes.data(), work.bytes.data(), work.bytes.size());
  cipher.RestartChain();
  cipher.Wipe();
  return Base64Encode(work.bytes);
}

std::string DecryptSetting(std::string_view stored, std::string_view key) {
  TCast128 cipher;
  cipher.SetKeyFromText(KeyOrDefault(key));
  std::string bytes = Base64Decode(stored);
  cipher.Cfb8Decrypt(bytes.data(), bytes.data(), bytes.size());
  cipher.RestartChain();
  cipher.Wipe();
  return bytes;
}

}  // namespace corvane
