// The block cipher object shared by the container and the stored secrets:
// CAST-128 (RFC 2144) with our own CBC tail rule and 8-bit CFB. Every
// operation may run in place (same buffer in and out).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/sha1.h"  // CipherError

namespace corvane {

class TBlockCipher {
 public:
  virtual ~TBlockCipher() = default;

  virtual std::string_view Algorithm() const = 0;
  virtual int BlockSize() const = 0;   // bits
  virtual int MaxKeySize() const = 0;  // bits
  bool Initialized() const { return keyed_; }

  // `iv` is BlockSize()/8 bytes, or null for the encryption of an all-0xFF
  // block under the new key.
  virtual void SetKey(const void* key, int size_bits, const void* iv = nullptr) = 0;
  virtual void Wipe() = 0;
  virtual void RestartChain() = 0;
  virtual void BlockEncrypt(const void* in, void* out) = 0;
  virtual void BlockDecrypt(const void* in, void* out) = 0;
  virtual void CbcEncrypt(const void* in, void* out, std::size_t length) = 0;
  virtual void CbcDecrypt(const void* in, void* out, std::size_t length) = 0;
  virtual void Cfb8Encrypt(const void* in, void* out, std::size_t length) = 0;
  virtual void Cfb8Decrypt(const void* in, void* out, std::size_t length) = 0;

  // Keys from the SHA-1 digest of the text's bytes, no IV given.
  void SetKeyFromText(std::string_view text);

 protected:
  bool keyed_ = false;
};

class TCast128 final : public TBlockCipher {
 public:
  using Block = std::array<std::uint8_t, 8>;

  TCast128();
  ~TCast128() override;
  TCast128(const TCast128&) = delete;
  TCast128& operator=(const TCast128&) = delete;

  std::string_view Algorithm() const override { return "Cast128"; }
  int BlockSize() const override { return 64; }
  int MaxKeySize() const override { return 128; }

  void SetKey(const void* key, int size_bits, const void* iv = nullptr) override;
  void Wipe() override;
  void RestartChain() override;
  void BlockEncrypt(const void* in, void* out) override;
  void BlockDecrypt(const void* in, void* out) override;
  void CbcEncrypt(const void* in, void* out, std::size_t length) override;
  void CbcDecrypt(const void* in, void* out, std::size_t length) override;
  void Cfb8Encrypt(const void* in, void* out, std::size_t length) override;
  void Cfb8Decrypt(const void* in, void* out, std::size_t length) override;

  Block IV() const { return iv_; }
  Block ChainValue() const { return chain_; }

 private:
  void RequireKey() const;
  void WipeState();

  // OpenSSL's CAST_KEY (32 subkey words: 16 masking, 16 rotation; and the
  // 12-round flag), opaque here so that includers need no OpenSSL.
  alignas(8) unsigned char schedule_[136];
  Block iv_;
  Block chain_;
};

// Frees what the cipher library keeps for the calling thread. A worker
// thread calls it as its last use of the ciphers, before it says it is done:
// a process that ends as soon as it hears that would otherwise take that
// state down with it unreleased.
void ReleaseCipherThreadState() noexcept;

}  // namespace corvane
