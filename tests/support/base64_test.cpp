#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/base64.h"
#include "support/cipher_test_util.h"

namespace corvane {
namespace {

using namespace std::string_literals;

TEST(Base64, EncodeRfc4648) {
  struct {
    std::string bytes;
    const char* text;
  } cases[] = {{"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "+/8="},
               {"\xff\xfe\xfd", "//79"}, {"\0"s, "AA=="}};
  for (const auto& c : cases) EXPECT_EQ(Base64Encode(c.bytes), c.text) << test::Hex(c.bytes);
}

// The tolerant reader: any character decodes, only the last group's "="
// shortens the output.
TEST(Base64, DecodeRules) {
  struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"", ""},
      {"Zm9vYmFy", "foobar"},
      {"Zm9vYmE=", "fooba"},
      {"Zm9vYg==", "foob"},
      {"TQ=x", "M"},                      // third "=" alone decides: one byte
      {"A===", "\x03"},                   // second "=" counts 63 in that byte
      {"TQ==TWFu", "M\x0f\xff" "Man"},    // "=" before the last group is 63
      {"====", "\xff"},                   // a last group: one byte, its "=" counting 63
      {"////", "\xff\xff\xff"},
      {"????", "\xff\xff\xff"},           // unknown characters are 63 like "/"
      {"-_*~", "\xff\xff\xff"},
      {"\xC3\xA9" "AA", "\xff\xf0\x00"s},  // bytes above 127 too
      {"AAAA", "\0\0\0"s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(test::Hex(Base64Decode(c.text)), test::Hex(c.bytes)) << '"' << c.text << '"';
  }
}

TEST(Base64, LengthNotMultipleOfFour) {
  for (const char* text : {"A", "AB", "ABC", "ABCDE", "Zm9vYmE", "=", "Zm9vYg==="}) {
    try {
      Base64Decode(text);
      ADD_FAILURE() << '"' << text << "\" decoded";
    } catch (const Base64Error& e) {
      EXPECT_STREQ(e.what(), "Base64: Incorrect string format");
    }
  }
}

TEST(Base64, RoundTripEveryLengthAndByte) {
  std::mt19937 rng(4648);
  for (std::size_t n = 0; n <= 70; ++n) {
    std::string bytes = test::RandomBytes(rng, n);
    std::string text = Base64Encode(bytes);
    EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(Base64Decode(text), bytes) << n;
  }
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

}  // namespace
}  // namespace corvane
