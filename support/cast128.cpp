// The CAST_* block functions are deprecated in OpenSSL 3 but remain the only
// way to reach the raw CAST-128 block without the EVP layer's per-call cost.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "support/cast128.h"

#include <openssl/cast.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <string>

namespace corvane {
namespace {

static_assert(sizeof(CAST_KEY) <= 136 && alignof(CAST_KEY) <= 8);
static_assert(sizeof(CAST_LONG) == 4);

// A plain memset on an object about to die may be dropped by the optimiser.
void SecureFill(void* p, std::size_t n, unsigned char value) {
  volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) v[i] = value;
}

// Blocks travel as one big-endian 64-bit word: the left half of RFC 2144 is
// the high 32 bits.
inline std::uint64_t Load(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

inline void Store(unsigned char* p, std::uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

inline std::uint64_t Encrypt(std::uint64_t v, const CAST_KEY* key) {
  CAST_LONG d[2] = {static_cast<CAST_LONG>(v >> 32), static_cast<CAST_LONG>(v)};
  CAST_encrypt(d, key);
  return (std::uint64_t{d[0]} << 32) | d[1];
}

inline std::uint64_t Decrypt(std::uint64_t v, const CAST_KEY* key) {
  CAST_LONG d[2] = {static_cast<CAST_LONG>(v >> 32), static_cast<CAST_LONG>(v)};
  CAST_decrypt(d, key);
  return (std::uint64_t{d[0]} << 32) | d[1];
}

// The partial last block of CBC: xor with the encrypted chaining value,
// which stays as it is.
inline void CbcTail(const unsigned char* in, unsigned char* out, std::size_t r, std::uint64_t chain,
                    const CAST_KEY* key) {
  std::uint64_t k = Encrypt(chain, key);
  for (std::size_t j = 0; j < r; ++j) out[j] = in[j] ^ static_cast<unsigned char>(k >> (56 - 8 * j));
}

CAST_KEY* Schedule(unsigned char* storage) { return std::launder(reinterpret_cast<CAST_KEY*>(storage)); }

}  // namespace

void TBlockCipher::SetKeyFromText(std::string_view text) {
  unsigned char digest[TSha1::kDigestBytes];
  struct Scrub {
    unsigned char* d;
    ~Scrub() { SecureFill(d, TSha1::kDigestBytes, 0xFF); }
  } scrub{digest};
  TSha1 hash;
  hash.Start();
  hash.UpdateText(text);
  hash.Finish(digest);
  SetKey(digest, std::min(MaxKeySize(), hash.HashSize()));
}

TCast128::TCast128() {
  new (schedule_) CAST_KEY{};
  WipeState();
}

TCast128::~TCast128() {
  if (keyed_) WipeState();
}

void TCast128::WipeState() {
  SecureFill(schedule_, sizeof schedule_, 0xFF);
  SecureFill(iv_.data(), iv_.size(), 0xFF);
  SecureFill(chain_.data(), chain_.size(), 0xFF);
  keyed_ = false;
}

void TCast128::Wipe() { WipeState(); }

void TCast128::RequireKey() const {
  if (!keyed_) throw CipherError("Cast128: Not initialized");
}

void TCast128::SetKey(const void* key, int size_bits, const void* iv) {
  if (keyed_) WipeState();
  if (size_bits <= 0 || size_bits > MaxKeySize() || size_bits % 8 != 0)
    throw CipherError("Cast128: Invalid key size - " + std::to_string(size_bits));
  // CAST_set_key zero-extends to 16 bytes and takes 12 rounds up to 10 key
  // bytes (80 bits), 16 above: the rule of RFC 2144.
  CAST_set_key(Schedule(schedule_), size_bits / 8, static_cast<const unsigned char*>(key));
  if (iv != nullptr) {
    std::memcpy(iv_.data(), iv, iv_.size());
  } else {
    Store(iv_.data(), Encrypt(~std::uint64_t{0}, Schedule(schedule_)));
  }
  chain_ = iv_;
  keyed_ = true;
}

void TCast128::RestartChain() { chain_ = iv_; }

void TCast128::BlockEncrypt(const void* in, void* out) {
  RequireKey();
  Store(static_cast<unsigned char*>(out), Encrypt(Load(static_cast<const unsigned char*>(in)), Schedule(schedule_)));
}

void TCast128::BlockDecrypt(const void* in, void* out) {
  RequireKey();
  Store(static_cast<unsigned char*>(out), Decrypt(Load(static_cast<const unsigned char*>(in)), Schedule(schedule_)));
}

// The full blocks of CBC encryption are plain CBC, and OpenSSL's loop has the
// block function inlined: a loop of ours around CAST_encrypt pays a call and
// two store-to-load round trips per block on the serial chain, about 5% of
// the rate. The tail rule and the chaining value are ours.
void TCast128::CbcEncrypt(const void* input, void* output, std::size_t length) {
  RequireKey();
  CAST_KEY* key = Schedule(schedule_);
  auto in = static_cast<const unsigned char*>(input);
  auto out = static_cast<unsigned char*>(output);
  std::size_t full = length & ~std::size_t{7};
  // Works in place and leaves the last ciphertext block in chain_.
  if (full != 0) CAST_cbc_encrypt(in, out, static_cast<long>(full), key, chain_.data(), CAST_ENCRYPT);
  if (full != length) CbcTail(in + full, out + full, length - full, Load(chain_.data()), key);
}

// Decryption keeps a loop of ours: its blocks do not depend on each other, so
// the processor overlaps them, which OpenSSL's loop (chained through memory)
// does not allow; it runs markedly faster.
void TCast128::CbcDecrypt(const void* input, void* output, std::size_t length) {
  RequireKey();
  const CAST_KEY* key = Schedule(schedule_);
  auto in = static_cast<const unsigned char*>(input);
  auto out = static_cast<unsigned char*>(output);
  std::uint64_t chain = Load(chain_.data());
  std::size_t full = length & ~std::size_t{7};
  for (std::size_t i = 0; i < full; i += 8) {
    std::uint64_t c = Load(in + i);  // read before the write: in may be out
    Store(out + i, Decrypt(c, key) ^ chain);
    chain = c;
  }
  if (full != length) CbcTail(in + full, out + full, length - full, chain, key);
  Store(chain_.data(), chain);
}

void TCast128::Cfb8Encrypt(const void* input, void* output, std::size_t length) {
  RequireKey();
  const CAST_KEY* key = Schedule(schedule_);
  auto in = static_cast<const unsigned char*>(input);
  auto out = static_cast<unsigned char*>(output);
  std::uint64_t chain = Load(chain_.data());
  for (std::size_t i = 0; i < length; ++i) {
    auto c = static_cast<unsigned char>(in[i] ^ (Encrypt(chain, key) >> 56));
    out[i] = c;
    chain = (chain << 8) | c;
  }
  Store(chain_.data(), chain);
}

void TCast128::Cfb8Decrypt(const void* input, void* output, std::size_t length) {
  RequireKey();
  const CAST_KEY* key = Schedule(schedule_);
  auto in = static_cast<const unsigned char*>(input);
  auto out = static_cast<unsigned char*>(output);
  std::uint64_t chain = Load(chain_.data());
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char c = in[i];
    out[i] = static_cast<unsigned char>(c ^ (Encrypt(chain, key) >> 56));
    chain = (chain << 8) | c;
  }
  Store(chain_.data(), chain);
}

void ReleaseCipherThreadState() noexcept { OPENSSL_thread_stop(); }

}  // namespace corvane
