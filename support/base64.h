// Base64 (RFC 4648 alphabet, "=" padding, no line breaks) as the stored
// secrets use it. The decoder is deliberately tolerant: stored texts written
// by older versions may hold any character, and each one decodes to
// something rather than failing.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane {

class Base64Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Base64Encode(std::string_view bytes);

// Throws Base64Error("Base64: Incorrect string format") when the length is
// not a multiple of 4. Letters, digits and "+" have their usual values; every
// other character counts 63. Only the last group's "=" shortens the output:
// third character "=" gives one byte, else fourth "=" gives two.
std::string Base64Decode(std::string_view text);

}  // namespace corvane
