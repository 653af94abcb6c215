// Runs one folder's backup or archive run in a process of its own, as the agent's tray
// command would, so that tests can kill it at any moment.
//   run_folder SETTINGS NAME LOGS_DIR INSTALL_DIR [WORK_DIR]
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "engine/configure.h"
#include "engine/threads.h"
#include "platform/network.h"
#include "support/message_catalog.h"
#include "platform/registry.h"

int main(int argc, char** argv) {
  using namespace corvane;
  if (argc < 5) {
    std::fprintf(stderr, "usage: run_folder SETTINGS NAME LOGS_DIR INSTALL_DIR [WORK_DIR]\n");
    return 2;
  }
  std::filesystem::path settings = argv[1];
  std::filesystem::path install = argv[4];
  platform::Registry registry(install / "registry.ini");
  MessageCatalog catalog = LoadMessageCatalog(install, "Français (France)", registry);
  EngineServices services;
  services.catalog = &catalog;
  services.logs_dir = argv[3];
  services.program_dir = install;
  services.work_dir = argc > 5 ? std::filesystem::path(argv[5]) : install / "work";
  services.computer_name = platform::ComputerName();
  services.network_root = platform::NetworkRootFromEnvironment();

  // The folder's own run: a backup, or the archive run of an archive folder.
  auto thread = PrepareRun(services, {argv[2], settings.string()}, settings, RunKind::Save, RunCaller::AgentTray,
                           std::chrono::system_clock::now());
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  thread->OnFinished([&] {
    std::lock_guard lock(m);
    done = true;
    cv.notify_all();
  });
  if (!TWorkerThread::Start(std::move(thread))) return 3;
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return done; });
  // The run is over and everything it wrote is closed, but its detached
  // thread may still be unwinding: leave without running static
  // destructors (or the leak checker) under its feet.
  std::_Exit(0);
}
