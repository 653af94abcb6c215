#pragma once

#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "agent/agent_platform.h"
#include "agent/scheduler.h"
#include "platform/datetime.h"
#include "platform/registry.h"
#include "support/folder_register.h"
#include "support/folder_settings.h"
#include "util/temp_dir.h"

namespace corvane::test {

namespace fs = std::filesystem;

// A local wall-clock time.
inline platform::DateTime Local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

struct StartCall {
  std::string folder;
  fs::path settings;
  RunKind kind;
  RunCaller caller;
  bool operator==(const StartCall&) const = default;
};

// Records what the agent asked to start; can be told to fail for a folder.
class RecordingStarter final : public agent::OperationStarter {
 public:
  bool Start(const RegisteredFolder& folder, const fs::path& settings, RunKind kind, RunCaller caller) override {
    calls.push_back({folder.name, settings, kind, caller});
    if (folder.name == throw_for) throw std::runtime_error("cannot prepare");
    return true;
  }
  std::vector<StartCall> calls;
  std::string throw_for;
};

// Stands in for the operating system's services; the socket is a real one
// in the test's folder.
class FakeAgentPlatform final : public agent::AgentPlatform {
 public:
  explicit FakeAgentPlatform(fs::path socket) : socket_(std::move(socket)) {}
  bool AcquireSingleInstance() override { return instance_free; }
  std::string ControlSocketName() const override { return socket_.string(); }
  void OpenDocument(const fs::path& file) override { opened.push_back(file); }
  void StartProgram(const fs::path& program) override { started.push_back(program); }

  bool instance_free = true;
  std::vector<fs::path> opened;
  std::vector<fs::path> started;

 private:
  fs::path socket_;
};

// A register and its settings files in a temporary folder.
class FolderBench {
 public:
  TempDir dir;
  fs::path install = dir / "install";
  platform::Registry registry{dir / "registry.ini"};

  FolderBench() { fs::create_directories(install); }

  // Registers `name` with a settings file holding `keys` in PARAMS; no
  // keys: the file is not created.
  fs::path AddFolder(const std::string& name, const std::vector<std::pair<std::string, std::string>>& keys) {
    fs::path ini = dir / (name + ".ini");
    for (const auto& [k, v] : keys) FolderSettings(ini).WriteString(kSectionParams, k, v);
    FolderRegister(registry).Write(name, ini);
    return ini;
  }
  std::string Key(const fs::path& ini, const std::string& key) {
    return FolderSettings(ini).ReadString(kSectionParams, key, "<absent>");
  }
};

}  // namespace corvane::test
