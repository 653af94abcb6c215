#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/base64.h"
#include "support/stored_secret.h"
#include "support/cipher_test_util.h"

namespace corvane {
namespace {

TEST(StoredSecret, LengthsAndRoundTrip) {
  const std::size_t expected[] = {0, 4, 4, 4, 8, 8, 8, 12};
  const std::string secret = "p\xC3\xA9ss!w";  // UTF-8 bytes count one each
  for (std::size_t n = 0; n <= secret.size(); ++n) {
    std::string plain = secret.substr(0, n);
    std::string stored = EncryptSetting(plain);
    EXPECT_EQ(stored.size(), expected[n]) << n;
    EXPECT_EQ(stored, EncryptSetting(plain, "q3nd7vkr")) << "empty key is the default key";
    EXPECT_EQ(DecryptSetting(stored), plain) << n;
    if (n > 0) {
      EXPECT_NE(Base64Decode(stored), plain) << "stored in clear";
    }
  }
}

// The whole scheme against the reference: SHA-1 keying, default IV, CFB8,
// standard Base64.
TEST(StoredSecret, MatchesReference) {
  std::mt19937 rng(5);
  struct Case {
    std::string secret, key;
  };
  std::vector<Case> cases = {{"", ""}, {"admin", ""}, {"admin", "q3nd7vkr"}, {"admin", "another key"},
                             {"mot de passe \xC3\xA0 rallonge", ""}, {"x", "\xC3\xA9"}};
  for (int i = 0; i < 20; ++i) cases.push_back({test::RandomBytes(rng, rng() % 40), test::RandomBytes(rng, 1 + rng() % 20)});
  std::vector<std::string> lines;
  for (const Case& c : cases)
    lines.push_back("secret " + test::Field(c.key.empty() ? std::string("q3nd7vkr") : c.key) + " " + test::Field(c.secret));
  auto expected = test::RunOracle(lines);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    std::string stored = EncryptSetting(cases[i].secret, cases[i].key);
    EXPECT_EQ(stored.empty() ? "-" : stored, expected[i]) << "case " << i;
    EXPECT_EQ(DecryptSetting(stored, cases[i].key), cases[i].secret) << "case " << i;
  }
}

TEST(StoredSecret, MalformedAndWrongKey) {
  try {
    DecryptSetting("abcde");
    ADD_FAILURE() << "5 characters decoded";
  } catch (const Base64Error& e) {
    EXPECT_STREQ(e.what(), "Base64: Incorrect string format");
  }

  const std::string stored = EncryptSetting("secret password");
  std::string other = DecryptSetting(stored, "not the key");
  EXPECT_EQ(other.size(), std::string("secret password").size());
  EXPECT_NE(other, "secret password");

  // Characters outside the alphabet decode as 63: a wrong secret, no error.
  std::string tampered = stored;
  tampered[1] = stored[1] == '/' ? 'A' : '?';  // "/" is 63 already
  std::string got;
  EXPECT_NO_THROW(got = DecryptSetting(tampered));
  EXPECT_NE(got, "secret password");
  EXPECT_EQ(DecryptSetting(""), "");
}

}  // namespace
}  // namespace corvane
