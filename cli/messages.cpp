#include "cli/messages.h"

#include "support/language.h"

namespace corvane::cli {

std::string Messages::Text(std::string_view key) const {
  std::string raw = ReadMessage(install_dir_, key, language_);
  if (raw.empty()) return std::string(key);
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == 'n') {
      text += '\n';
      ++i;
    } else {
      text += raw[i];
    }
  }
  return text;
}

void Messages::Say(std::FILE* to, std::string_view key, std::string_view detail) const {
  std::string line = Text(key);
  if (!detail.empty()) line += detail;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), to);
  std::fflush(to);
}

}  // namespace corvane::cli
