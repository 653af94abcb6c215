// Secrets kept as text in the registry and in folder settings files:
// CAST-128 in 8-bit CFB under a key text, then Base64. No salt and no check
// value, so equal secrets give equal texts and a wrong key decrypts to
// garbage of the right length without an error. This hides passwords from
// casual reading; it is not protection against anyone who has the key text.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The key text every stored secret of the system uses.
inline constexpr std::string_view kDefaultSettingKey = "q3nd7vkr";

// An empty key selects kDefaultSettingKey.
std::string EncryptSetting(std::string_view secret, std::string_view key = {});
// Throws Base64Error when the stored text's length is not a multiple of 4.
std::string DecryptSetting(std::string_view stored, std::string_view key = {});

}  // namespace corvane
