// The agent as a real process: headless (no display), its period shortened
// with the CORVANE3_TICK_MS testing aid, ended through its control socket.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/journal.h"
#include "platform/registry.h"
#include "support/folder_register.h"
#include "support/folder_settings.h"
#include "util/process.h"
#include "util/temp_dir.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Waits at most `limit` for `done`, looking every 20 ms.
template <typename F>
bool WaitFor(F done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class AgentProcess {
 public:
  AgentProcess(const std::vector<std::string>& env, const fs::path& err_file) : err_file_(err_file) {
    pid_ = ::fork();
    if (pid_ != 0) return;
    const int fd = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(CORVANE_AGENT), nullptr};
    ::execve(CORVANE_AGENT, argv, envp.data());
    ::_exit(127);
  }
  ~AgentProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  int pid() const { return pid_; }
  // The exit code, -signal when killed, or nullopt while still running after `limit`.
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    if (exited_) return code_;
    int status = 0;
    const bool ended = WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) return std::nullopt;
    exited_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return code_;
  }
  bool Running() { return !Wait(0ms).has_value(); }
  void Kill() { ::kill(pid_, SIGKILL); }
  std::string Output() const { return ReadAll(err_file_); }

 private:
  fs::path err_file_;
  int pid_ = -1;
  bool exited_ = false;
  int code_ = 0;
};

class AgentProcessTest : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path install = dir / "install";
  fs::path run = dir / "run";
  fs::path logs = install / "logs";
  fs::path socket_path = run / "Corvane_3";
  std::unique_ptr<platform::Registry> registry;
  int started = 0;

  void SetUp() override {
    ASSERT_TRUE(fs::exists(CORVANE_AGENT)) << CORVANE_AGENT;
    fs::create_directories(install);
    fs::create_directories(run);
    fs::permissions(run, fs::perms::owner_all);
    fs::create_directories(dir / "config" / "corvane3");
    fs::copy_file(fs::path(CORVANE_SOURCE_DIR) / "lang" / "Français.lge", install / "Français.lge");
    registry = std::make_unique<platform::Registry>(dir / "config" / "corvane3" / "registry.ini");
  }

  // An agent a failed test left running (started by the script, so not our
  // child) is asked to end.
  void TearDown() override {
    if (Connectable()) SendDestroy();
  }

  std::vector<std::string> Environment() {
    const std::string d = dir.path().string();
    return {"HOME=" + d,
            "XDG_CONFIG_HOME=" + d + "/config",
            "XDG_DATA_HOME=" + d + "/data",
            "XDG_STATE_HOME=" + d + "/state",
            "XDG_RUNTIME_DIR=" + run.string(),
            "CORVANE3_HOME=" + install.string(),
            "CORVANE3_NETWORK_ROOT=" + d + "/net",
            "CORVANE3_TICK_MS=200",
            "LANG=fr_FR.UTF-8",
            "PATH=/usr/bin:/bin"};
  }

  std::unique_ptr<AgentProcess> Start() {
    return std::make_unique<AgentProcess>(Environment(), dir / ("agent" + std::to_string(++started) + ".err"));
  }

  // A backup folder run at every tick.
  fs::path AddFolder(const std::string& name, const fs::path& origin, const fs::path& dest) {
    const fs::path ini = dir / (name + ".ini");
    FolderSettings s(ini);
    s.WriteString("PARAMS", "TypeDelai", "0");
    s.WriteInteger("PARAMS", "DelaiSauve", 1);
    s.WriteInteger("PARAMS", "TypeSauve", 0);
    s.WriteBool("PARAMS", "Journal", true);
    s.WriteBool("PARAMS", "SousRep", true);
    s.WriteString("PARAMS", "Origine", origin.string());
    s.WriteString("PARAMS", "Destination", dest.string());
    s.WriteInteger("PARAMS", "NbMaxFic", 1000);
    s.WriteInteger("PARAMS", "NbMaxFicMin", 1000);
    s.WriteInteger("PARAMS", "VolumeMax", 1000);
    FolderRegister(*registry).Write(name, ini);
    return ini;
  }

  bool Connectable() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket_path.c_str(), sizeof addr.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
  }

  bool SendDestroy() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket_path.c_str(), sizeof addr.sun_path - 1);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    const char request[] = "WM_DESTROY\n";
    ok = ok && ::write(fd, request, sizeof request - 1) == static_cast<ssize_t>(sizeof request - 1);
    ::close(fd);
    return ok;
  }

  // Ends the agent through its socket and reports how long it took.
  void Destroy(AgentProcess& agent) {
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(SendDestroy());
    const std::optional<int> code = agent.Wait(20s);
    ASSERT_TRUE(code.has_value()) << "still running after the request\n" << agent.Output();
    EXPECT_EQ(*code, 0) << agent.Output();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
    std::printf("[ figure ] agent ended %lld ms after WM_DESTROY\n", static_cast<long long>(ms.count()));
  }
};

TEST_F(AgentProcessTest, BacksUpAtItsFirstTickAndEndsOnRequest) {
  const fs::path origin = dir / "origin";
  const fs::path dest = dir / "dest";
  fs::create_directories(origin / "sub");
  fs::create_directories(dest);
  WriteAll(origin / "a.txt", "alpha");
  WriteAll(origin / "sub" / "b.txt", "beta");
  const fs::path ini = AddFolder("Docs", origin, dest);
  FolderSettings(ini).WriteString("PARAMS", "Encours", "1");  // left by an agent that died mid-run

  auto agent = Start();
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dest / "sub" / "b.txt") || !agent->Running(); }, 60s))
      << agent->Output();
  ASSERT_TRUE(agent->Running()) << agent->Output();
  EXPECT_TRUE(WaitFor([&] { return fs::exists(dest / "a.txt"); }, 30s));
  EXPECT_EQ(ReadAll(dest / "sub" / "b.txt"), "beta");
  EXPECT_NE(agent->Output().find("without an icon"), std::string::npos) << agent->Output();
  // The start-up registered the agent to start at log-on.
  const std::string autostart = ReadAll(dir / "config" / "autostart" / "Corvane_3.desktop");
  EXPECT_NE(autostart.find("corvane-agent"), std::string::npos) << autostart;
  EXPECT_TRUE(WaitFor([&] { return Connectable(); }, 10s));
  Destroy(*agent);
}

TEST_F(AgentProcessTest, SecondAgentIsTurnedAwayAndTheLockDiesWithItsHolder) {
  auto first = Start();
  ASSERT_TRUE(WaitFor([&] { return Connectable() || !first->Running(); }, 30s)) << first->Output();
  ASSERT_TRUE(first->Running()) << first->Output();

  auto second = Start();
  const std::optional<int> code = second->Wait(30s);
  ASSERT_TRUE(code.has_value()) << "the second agent did not end";
  EXPECT_EQ(*code, 1);
  const std::string said = second->Output();
  EXPECT_NE(said.find("Corvane 3 est déjà en cours d'exécution"), std::string::npos) << said;
  EXPECT_EQ(said.find("without an icon"), std::string::npos) << "the second agent went past its check";
  EXPECT_TRUE(first->Running());
  EXPECT_TRUE(Connectable());

  first->Kill();
  EXPECT_EQ(first->Wait(10s), -SIGKILL);
  // The dead agent's socket file is still there but nobody answers; the
  // next agent takes the lock and the socket over.
  auto third = Start();
  ASSERT_TRUE(WaitFor([&] { return Connectable() || !third->Running(); }, 30s)) << third->Output();
  ASSERT_TRUE(third->Running()) << third->Output();
  Destroy(*third);
}

TEST_F(AgentProcessTest, FailingFolderLeavesTheAgentAndTheNextFoldersRunning) {
  const fs::path good_origin = dir / "good";
  const fs::path good_dest = dir / "good-dest";
  fs::create_directories(good_origin);
  fs::create_directories(good_dest);
  WriteAll(good_origin / "one.txt", "1");
  AddFolder("Broken", dir / "no such origin", dir / "broken-dest");
  // A settings path that is a folder: every read fails, every write fails.
  fs::create_directories(dir / "Folder.ini");
  FolderRegister(*registry).Write("Folder", dir / "Folder.ini");
  AddFolder("Good", good_origin, good_dest);

  auto agent = Start();
  ASSERT_TRUE(WaitFor([&] { return fs::exists(good_dest / "one.txt") || !agent->Running(); }, 60s))
      << agent->Output();
  // Later ticks go on: a file added now is delivered by a later run.
  WriteAll(good_origin / "two.txt", "2");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(good_dest / "two.txt") || !agent->Running(); }, 60s))
      << agent->Output();
  ASSERT_TRUE(agent->Running()) << agent->Output();
  EXPECT_FALSE(fs::exists(dir / "broken-dest" / "one.txt"));
  // The broken folder's runs were attempted and reported in its journal.
  bool journal = false;
  for (const auto& e : fs::directory_iterator(logs)) journal |= e.path().filename().string().find("Broken") != std::string::npos;
  EXPECT_TRUE(journal);
  Destroy(*agent);
}

// What `make run` and `make stop` do, on a machine without a display.
TEST_F(AgentProcessTest, RunScriptStartsTheAgentHeadlessAndStopEndsIt) {
  const std::string script = std::string(CORVANE_SOURCE_DIR) + "/tools/run-suite.sh";
  const std::string build = fs::path(CORVANE_AGENT).parent_path().parent_path().string();
  std::vector<std::string> env = {"/usr/bin/env", "-i"};
  for (const std::string& e : Environment()) env.push_back(e);
  env.push_back("CORVANE3_AGENT_LOG=" + (dir / "agent.log").string());
  auto command = [&](std::vector<std::string> args) {
    std::vector<std::string> argv = env;
    argv.push_back("/bin/sh");
    argv.push_back(script);
    for (auto& a : args) argv.push_back(std::move(a));
    return RunCommand(argv, {}, std::chrono::seconds(60));
  };
  const CommandResult first = command({"run", build});
  ASSERT_EQ(first.exit_code, 0) << first.output;
  EXPECT_NE(first.output.find("corvane-agent started headless"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("console (corvane-admin) is not built yet"), std::string::npos) << first.output;
  ASSERT_TRUE(WaitFor([&] { return Connectable(); }, 30s)) << ReadAll(dir / "agent.log");

  const CommandResult again = command({"run", build});
  EXPECT_NE(again.output.find("did not stay up"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find("Corvane 3 est déjà en cours d'exécution"), std::string::npos) << again.output;

  const CommandResult stopped = command({"stop"});
  EXPECT_NE(stopped.output.find("Asked the agent to end."), std::string::npos) << stopped.output;
  EXPECT_TRUE(WaitFor([&] { return !Connectable(); }, 20s)) << "the agent still answers";
  const CommandResult none = command({"stop"});
  EXPECT_NE(none.output.find("No agent is running."), std::string::npos) << none.output;
}

}  // namespace
}  // namespace corvane::test
