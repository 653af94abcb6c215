#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/cast128.h"
#include "support/sha1.h"
#include "support/cipher_test_util.h"

namespace corvane {
namespace {

using test::Hex;
using test::Unhex;

const std::string kFF8(8, '\xFF');

std::string Encrypt1(TCast128& c, const std::string& block) {
  std::string out(8, '\0');
  c.BlockEncrypt(block.data(), out.data());
  return out;
}

std::string AsString(const TCast128::Block& b) { return std::string(b.begin(), b.end()); }

// RFC 2144 Appendix B.1: one plaintext under 128-, 80- and 40-bit keys.
struct Vector {
  int bits;
  const char* key;
  const char* cipher;
};

class Rfc2144 : public ::testing::TestWithParam<Vector> {};

TEST_P(Rfc2144, SingleBlockBothWays) {
  const Vector& v = GetParam();
  const std::string plain = Unhex("0123456789abcdef");
  TCast128 c;
  c.SetKey(Unhex(v.key).data(), v.bits);
  EXPECT_EQ(Hex(Encrypt1(c, plain)), v.cipher);
  std::string back(8, '\0');
  std::string ct = Unhex(v.cipher);
  c.BlockDecrypt(ct.data(), back.data());
  EXPECT_EQ(back, plain);
  // In place.
  std::string buf = plain;
  c.BlockEncrypt(buf.data(), buf.data());
  EXPECT_EQ(Hex(buf), v.cipher);
}

INSTANTIATE_TEST_SUITE_P(AppendixB1, Rfc2144,
                         ::testing::Values(Vector{128, "0123456712345678234567893456789a", "238b4fe5847e44b2"},
                                           Vector{80, "01234567123456782345", "eb6a711a2c02271b"},
                                           Vector{40, "0123456712", "7ac816d16e9b302e"}));

// RFC 2144 Appendix B.2: a and b encrypt each other's halves a million times.
TEST(Cast128, MaintenanceTest) {
  std::string a = Unhex("0123456712345678234567893456789a");
  std::string b = a;
  TCast128 c;
  for (int i = 0; i < 1000000; ++i) {
    c.SetKey(b.data(), 128);
    c.BlockEncrypt(a.data(), a.data());
    c.BlockEncrypt(a.data() + 8, a.data() + 8);
    c.SetKey(a.data(), 128);
    c.BlockEncrypt(b.data(), b.data());
    c.BlockEncrypt(b.data() + 8, b.data() + 8);
  }
  EXPECT_EQ(Hex(a), "eea9d0a249fd3ba6b3436fb89d6dca92");
  EXPECT_EQ(Hex(b), "b2c95eb00c31ad7180ac05b8e83d696e");
}

// Short keys are zero-extended to 16 bytes; rounds depend on the given size
// only (12 up to 80 bits, 16 above), so padding a key with zeros changes the
// result exactly when it crosses that line.
TEST(Cast128, ZeroExtensionAndRounds) {
  const std::string key = Unhex("a1b2c3d4e5f60718293a4b");  // 11 bytes
  const std::string plain = "8 bytes!";
  struct Case {
    int short_bits;
    int long_bits;
    bool same;
  } cases[] = {
      {8, 80, true},     // 12 rounds both
      {40, 80, true},    // 12 rounds both
      {88, 128, true},   // 16 rounds both
      {80, 88, false},   // 12 against 16 rounds
      {40, 128, false},  // 12 against 16 rounds
  };
  for (const Case& cs : cases) {
    std::string padded = key.substr(0, static_cast<std::size_t>(cs.short_bits / 8));
    padded.resize(16, '\0');
    TCast128 s, l;
    s.SetKey(key.data(), cs.short_bits);
    l.SetKey(padded.data(), cs.long_bits);
    EXPECT_EQ(Encrypt1(s, plain) == Encrypt1(l, plain), cs.same) << cs.short_bits << " vs " << cs.long_bits;
  }
}

TEST(Cast128, NewObjectIsUnkeyedAndFilled) {
  TCast128 c;
  EXPECT_EQ(c.Algorithm(), "Cast128");
  EXPECT_EQ(c.BlockSize(), 64);
  EXPECT_EQ(c.MaxKeySize(), 128);
  EXPECT_FALSE(c.Initialized());
  EXPECT_EQ(AsString(c.IV()), kFF8);
  EXPECT_EQ(AsString(c.ChainValue()), kFF8);
}

// Every data operation refuses an un-keyed object, new or wiped, and leaves
// the output alone.
TEST(Cast128, UnkeyedOperationsFail) {
  std::array<unsigned char, 16> in{}, out{};
  std::vector<std::pair<const char*, std::function<void(TCast128&)>>> ops = {
      {"BlockEncrypt", [&](TCast128& c) { c.BlockEncrypt(in.data(), out.data()); }},
      {"BlockDecrypt", [&](TCast128& c) { c.BlockDecrypt(in.data(), out.data()); }},
      {"CbcEncrypt", [&](TCast128& c) { c.CbcEncrypt(in.data(), out.data(), 11); }},
      {"CbcDecrypt", [&](TCast128& c) { c.CbcDecrypt(in.data(), out.data(), 11); }},
      {"Cfb8Encrypt", [&](TCast128& c) { c.Cfb8Encrypt(in.data(), out.data(), 3); }},
      {"Cfb8Decrypt", [&](TCast128& c) { c.Cfb8Decrypt(in.data(), out.data(), 3); }},
  };
  for (bool wiped : {false, true}) {
    TCast128 c;
    if (wiped) {
      c.SetKeyFromText("secret");
      c.Wipe();
    }
    for (auto& [name, op] : ops) {
      out.fill(0x5A);
      try {
        op(c);
        ADD_FAILURE() << name << " ran un-keyed (wiped=" << wiped << ")";
      } catch (const CipherError& e) {
        EXPECT_STREQ(e.what(), "Cast128: Not initialized") << name;
      }
      EXPECT_EQ(out[0], 0x5A) << name;
    }
  }
}

TEST(Cast128, KeySizeRule) {
  const std::string key(17, 'k');
  for (int bits : {0, 7, 136, -8, 129, 12}) {
    TCast128 c;
    c.SetKeyFromText("keyed before");  // a bad size must not leave the old key usable
    try {
      c.SetKey(key.data(), bits);
      ADD_FAILURE() << bits << " bits accepted";
    } catch (const CipherError& e) {
      EXPECT_EQ(std::string(e.what()), "Cast128: Invalid key size - " + std::to_string(bits));
    }
    EXPECT_FALSE(c.Initialized()) << bits;
  }
  for (int bits : {8, 40, 80, 88, 128}) {
    TCast128 c;
    EXPECT_NO_THROW(c.SetKey(key.data(), bits)) << bits;
    EXPECT_TRUE(c.Initialized());
  }
}

TEST(Cast128, KeyingSetsIvAndChain) {
  const std::string key = Unhex("00112233445566778899aabbccddeeff");
  TCast128 c;
  c.SetKey(key.data(), 128);
  // No IV given: the encryption of eight 0xFF bytes.
  EXPECT_EQ(AsString(c.IV()), Encrypt1(c, kFF8));
  EXPECT_EQ(c.ChainValue(), c.IV());

  const std::string iv = "IVIVIVIV";
  c.SetKey(key.data(), 128, iv.data());
  EXPECT_EQ(AsString(c.IV()), iv);
  EXPECT_EQ(AsString(c.ChainValue()), iv);

  c.Wipe();
  EXPECT_FALSE(c.Initialized());
  EXPECT_EQ(AsString(c.IV()), kFF8);
  EXPECT_EQ(AsString(c.ChainValue()), kFF8);
}

TEST(Cast128, KeyFromTextIsFirst16BytesOfSha1) {
  for (std::string text : {"", "q3nd7vkr", "mot de passe \xC3\xA9t\xC3\xA9"}) {
    unsigned char digest[20];
    TSha1 h;
    h.Start();
    h.UpdateText(text);
    h.Finish(digest);
    TCast128 a, b;
    a.SetKeyFromText(text);
    b.SetKey(digest, 128);
    EXPECT_EQ(a.IV(), b.IV()) << text;
    EXPECT_EQ(Encrypt1(a, "abcdefgh"), Encrypt1(b, "abcdefgh")) << text;
  }
}

using ModeFn = void (TCast128::*)(const void*, void*, std::size_t);
struct Mode {
  const char* name;
  ModeFn encrypt;
  ModeFn decrypt;
};
const Mode kModes[] = {{"CBC", &TCast128::CbcEncrypt, &TCast128::CbcDecrypt},
                       {"CFB8", &TCast128::Cfb8Encrypt, &TCast128::Cfb8Decrypt}};

std::string Apply(TCast128& c, ModeFn fn, const std::string& in) {
  std::string out(in.size(), '\0');
  (c.*fn)(in.data(), out.data(), in.size());
  return out;
}

// One message cut into pieces (all but the last a multiple of 8) gives the
// bytes of the whole, both ways, for both modes; and in place equals out of
// place.
TEST(Cast128, ChainRunsOnAcrossCalls) {
  std::mt19937 rng(7);
  const std::string plain = test::RandomBytes(rng, 203);
  const std::vector<std::vector<std::size_t>> splits = {
      {8, 195}, {64, 64, 75}, {200, 3}, {0, 96, 0, 107}, {8, 8, 8, 8, 171}, {203}};
  for (const Mode& m : kModes) {
    TCast128 c;
    c.SetKeyFromText("split");
    const std::string whole = Apply(c, m.encrypt, plain);
    ASSERT_NE(whole, plain);
    c.RestartChain();
    EXPECT_EQ(Apply(c, m.decrypt, whole), plain) << m.name;

    for (const auto& split : splits) {
      std::string pieces, back;
      c.RestartChain();
      std::size_t at = 0;
      for (std::size_t n : split) {
        pieces += Apply(c, m.encrypt, plain.substr(at, n));
        at += n;
      }
      ASSERT_EQ(at, plain.size());
      EXPECT_EQ(pieces, whole) << m.name << " split of " << split.size();

      c.RestartChain();
      std::string buf = whole;
      at = 0;
      for (std::size_t n : split) {
        (c.*m.decrypt)(buf.data() + at, buf.data() + at, n);
        at += n;
      }
      EXPECT_EQ(buf, plain) << m.name << " in-place split of " << split.size();
    }
  }
}

// The CBC tail leaves the chain where the last full block put it, so an
// 8-byte-aligned continuation after a partial piece is not the same message:
// pin what callers must not rely on, and that CFB8 has no such limit.
TEST(Cast128, CbcTailDoesNotMoveTheChain) {
  TCast128 c;
  c.SetKeyFromText("tail");
  std::string data(13, 'x');
  Apply(c, &TCast128::CbcEncrypt, data.substr(0, 8));
  const auto after_block = c.ChainValue();
  Apply(c, &TCast128::CbcEncrypt, data.substr(8));
  EXPECT_EQ(c.ChainValue(), after_block);

  TCast128 f;
  f.SetKeyFromText("tail");
  std::string whole = Apply(f, &TCast128::Cfb8Encrypt, data);
  f.RestartChain();
  std::string pieces = Apply(f, &TCast128::Cfb8Encrypt, data.substr(0, 5));
  pieces += Apply(f, &TCast128::Cfb8Encrypt, data.substr(5));
  EXPECT_EQ(pieces, whole);
}

TEST(Cast128, EmptyInputLeavesChain) {
  for (const Mode& m : kModes) {
    TCast128 c;
    c.SetKeyFromText("empty");
    auto before = c.ChainValue();
    (c.*m.encrypt)(nullptr, nullptr, 0);
    (c.*m.decrypt)(nullptr, nullptr, 0);
    EXPECT_EQ(c.ChainValue(), before) << m.name;
  }
}

}  // namespace
}  // namespace corvane
