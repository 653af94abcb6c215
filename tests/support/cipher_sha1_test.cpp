#include <gtest/gtest.h>

#include <string>

#include "support/sha1.h"
#include "support/cipher_test_util.h"

namespace corvane {
namespace {

std::string Digest(THash& h, const std::string& message, std::size_t piece) {
  h.Start();
  for (std::size_t at = 0; at < message.size(); at += piece) h.Update(message.data() + at, std::min(piece, message.size() - at));
  std::string out(20, '\0');
  h.Finish(out.data());
  return test::Hex(out);
}

// FIPS 180-1 Appendix A and B and C, fed whole and in pieces that straddle
// the 64-byte block and the 56-byte padding limit.
TEST(Sha1, Fips180Vectors) {
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
  };
  TSha1 h;
  for (const Case& c : cases) {
    for (std::size_t piece : {std::size_t{1000000}, std::size_t{1}, std::size_t{55}, std::size_t{64}, std::size_t{63}}) {
      EXPECT_EQ(Digest(h, c.message, piece), c.digest) << c.message.size() << " bytes in pieces of " << piece;
    }
  }
  h.Start();
  h.UpdateText("abc");
  std::string out(20, '\0');
  h.Finish(out.data());
  EXPECT_EQ(test::Hex(out), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(Sha1, ObjectModel) {
  TSha1 h;
  EXPECT_EQ(h.Algorithm(), "SHA1");
  EXPECT_EQ(h.HashSize(), 160);
  EXPECT_FALSE(h.Started());
  char out[20];
  EXPECT_THROW(h.Update("x", 1), CipherError);
  EXPECT_THROW(h.UpdateText("x"), CipherError);
  try {
    h.Finish(out);
    ADD_FAILURE() << "Finish before Start";
  } catch (const CipherError& e) {
    EXPECT_STREQ(e.what(), "SHA1: Not initialized");
  }

  // Finish ends the message: the object needs a new Start, which begins afresh.
  h.Start();
  h.UpdateText("first message");
  h.Finish(out);
  EXPECT_FALSE(h.Started());
  EXPECT_THROW(h.UpdateText("more"), CipherError);
  EXPECT_EQ(Digest(h, "abc", 3), "a9993e364706816aba3e25717850c26c9cd0d89d");

  // Wipe drops a message midway.
  h.Start();
  h.UpdateText("dropped");
  h.Wipe();
  EXPECT_FALSE(h.Started());
  EXPECT_THROW(h.Finish(out), CipherError);
}

}  // namespace
}  // namespace corvane
