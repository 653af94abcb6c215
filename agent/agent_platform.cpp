#include "agent/agent_platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace corvane::agent {

LinuxAgentPlatform::LinuxAgentPlatform(std::filesystem::path runtime_dir) : runtime_dir_(std::move(runtime_dir)) {}

bool LinuxAgentPlatform::AcquireSingleInstance() {
  if (lock_.get() >= 0) return true;
  // The fallback runtime folder may not exist yet; it must stay private.
  std::error_code ec;
  if (!std::filesystem::is_directory(runtime_dir_, ec)) {
    if (::mkdir(runtime_dir_.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  const std::filesystem::path file = runtime_dir_ / kMutexName;
  platform::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) return false;
  // The lock belongs to this open file: it goes when the process dies, and
  // no child we start inherits the descriptor (O_CLOEXEC).
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  lock_ = std::move(fd);
  return true;
}

std::string LinuxAgentPlatform::ControlSocketName() const { return (runtime_dir_ / kWindowClass).string(); }

void LinuxAgentPlatform::OpenDocument(const std::filesystem::path& file) {
  QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(file.string())});
}

void LinuxAgentPlatform::StartProgram(const std::filesystem::path& program) {
  if (::access(program.c_str(), X_OK) != 0) return;
  QProcess::startDetached(QString::fromStdString(program.string()), {});
}

std::unique_ptr<AgentPlatform> MakeAgentPlatform(const platform::Paths& paths) {
  return std::make_unique<LinuxAgentPlatform>(paths.runtime_dir);
}

bool SendDestroyRequest(const std::string& socket_name, int timeout_ms) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(socket_name));
  if (!socket.waitForConnected(timeout_ms)) return false;
  socket.write(QByteArray::fromStdString(std::string(kDestroyRequest) + "\n"));
  if (!socket.waitForBytesWritten(timeout_ms)) return false;
  socket.disconnectFromServer();
  return true;
}

}  // namespace corvane::agent
