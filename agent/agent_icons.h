// The agent's four tray icons, drawn at 32 x 32: "Corv_1" idle, "Corv_2"
// copying, "Corv_3" scanning, "Corv_4" mirror scanning.
#pragma once

#include <string_view>

#include <QIcon>
#include <QImage>

namespace corvane::agent {

inline constexpr int kIconSize = 32;

// An unknown name gives the idle icon.
QImage DrawAgentIcon(std::string_view name);
QIcon AgentIcon(std::string_view name);

}  // namespace corvane::agent
