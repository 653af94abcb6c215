// SHA-1 (FIPS 180-1) as the hash object that turns passwords into cipher keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane {

// Misuse of a cipher or hash object (not keyed, not started, bad key size).
class CipherError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class THash {
 public:
  virtual ~THash() = default;

  virtual std::string_view Algorithm() const = 0;
  virtual int HashSize() const = 0;  // bits
  bool Started() const { return started_; }

  virtual void Start() = 0;
  virtual void Wipe() = 0;
  virtual void Update(const void* data, std::size_t length) = 0;
  // `digest` receives HashSize()/8 bytes; the object is wiped afterwards.
  virtual void Finish(void* digest) = 0;

  void UpdateText(std::string_view text) { Update(text.data(), text.size()); }

 protected:
  bool started_ = false;
};

class TSha1 final : public THash {
 public:
  static constexpr int kDigestBytes = 20;

  TSha1();
  ~TSha1() override;
  TSha1(const TSha1&) = delete;
  TSha1& operator=(const TSha1&) = delete;

  std::string_view Algorithm() const override { return "SHA1"; }
  int HashSize() const override { return 160; }

  void Start() override;
  void Wipe() override;
  void Update(const void* data, std::size_t length) override;
  void Finish(void* digest) override;

 private:
  // Room for OpenSSL's SHA_CTX (five state words, bit length, 64-byte block
  // and its fill count), kept opaque so that includers need no OpenSSL.
  alignas(8) unsigned char ctx_[96];
};

}  // namespace corvane
