// The few operating-system services the agent needs beyond the shared
// platform layer, behind one interface so that tests can stand in for them:
// the single-instance mark, the name of the control socket, opening a
// document with the desktop's application, starting a program.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace corvane::agent {

// Names of the agent's own objects.
inline constexpr std::string_view kMutexName = "Corvane3Mutex";
inline constexpr std::string_view kWindowClass = "Corvane_3";
// The one request the control socket understands: end at once.
inline constexpr std::string_view kDestroyRequest = "WM_DESTROY";

class AgentPlatform {
 public:
  virtual ~AgentPlatform() = default;
  // Takes the per-user single-instance mark, held until the process ends
  // (the system frees it when the process dies). False when another agent
  // holds it, or when it cannot be taken at all.
  virtual bool AcquireSingleInstance() = 0;
  // What the control socket listens on: a full path, private to the user.
  virtual std::string ControlSocketName() const = 0;
  // Opens a document with the desktop's default application; no wait.
  virtual void OpenDocument(const std::filesystem::path& file) = 0;
  // Starts a program with no arguments; no wait. A missing program does
  // nothing.
  virtual void StartProgram(const std::filesystem::path& program) = 0;
};

// flock on "Corvane3Mutex" and the socket "Corvane_3", both in the user's
// runtime folder; xdg-open; detached child processes.
class LinuxAgentPlatform final : public AgentPlatform {
 public:
  explicit LinuxAgentPlatform(std::filesystem::path runtime_dir);
  bool AcquireSingleInstance() override;
  std::string ControlSocketName() const override;
  void OpenDocument(const std::filesystem::path& file) override;
  void StartProgram(const std::filesystem::path& program) override;

 private:
  std::filesystem::path runtime_dir_;
  platform::UniqueFd lock_;
};

// The one place that chooses the implementation.
std::unique_ptr<AgentPlatform> MakeAgentPlatform(const platform::Paths& paths);

// Asks the agent listening on `socket_name` to end at once (the console's
// complete stop). True when the request was delivered.
bool SendDestroyRequest(const std::string& socket_name, int timeout_ms = 2000);

}  // namespace corvane::agent
