#define OPENSSL_SUPPRESS_DEPRECATED  // SHA1_* are deprecated, not going away in 3.x
#include "support/sha1.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <new>

namespace corvane {
namespace {

static_assert(sizeof(SHA_CTX) <= 96 && alignof(SHA_CTX) <= 8);

SHA_CTX* Ctx(unsigned char* storage) { return std::launder(reinterpret_cast<SHA_CTX*>(storage)); }

}  // namespace

TSha1::TSha1() {
  new (ctx_) SHA_CTX{};
  Wipe();
}

TSha1::~TSha1() { Wipe(); }

void TSha1::Start() {
  SHA1_Init(Ctx(ctx_));
  started_ = true;
}

void TSha1::Wipe() {
  OPENSSL_cleanse(ctx_, sizeof ctx_);
  started_ = false;
}

void TSha1::Update(const void* data, std::size_t length) {
  if (!started_) throw CipherError("SHA1: Not initialized");
  if (length != 0) SHA1_Update(Ctx(ctx_), data, length);
}

void TSha1::Finish(void* digest) {
  if (!started_) throw CipherError("SHA1: Not initialized");
  SHA1_Final(static_cast<unsigned char*>(digest), Ctx(ctx_));
  Wipe();
}

}  // namespace corvane
