// The settings-file parser against arbitrary bytes: parsing never fails, and
// what it writes back parses to the same entries (nothing written is lost).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using corvane::platform::IniDocument;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  IniDocument doc = IniDocument::Parse(text);
  IniDocument again = IniDocument::Parse(doc.Serialize());
  for (const auto& section : doc.SectionNames()) {
    if (doc.Entries(section) != again.Entries(section)) std::abort();
  }
  // Setting a value that came from the input reads back exactly.
  std::string_view half = text.substr(0, size / 2);
  std::string_view rest = text.substr(size / 2);
  doc.Set(rest, half, rest);
  IniDocument third = IniDocument::Parse(doc.Serialize());
  const std::string* v = third.Find(rest, half);
  if (!v || *v != rest) std::abort();
  return 0;
}
