// corvane-agent: the resident agent. No window of its own; a tray icon when
// the desktop has a notification area, and headless otherwise.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <QApplication>
#include <QSystemTrayIcon>

#include "agent/agent.h"
#include "platform/desktop_integration.h"
#include "platform/locale.h"

namespace {

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// CORVANE3_TICK_MS, a testing aid: the scheduler's period in milliseconds
// (50 to 60000); anything else keeps the minute.
int TickPeriod() {
  const char* v = std::getenv("CORVANE3_TICK_MS");
  if (!v) return corvane::agent::kSchedulerPeriodMs;
  int ms = 0;
  const char* end = v + std::strlen(v);
  auto [p, ec] = std::from_chars(v, end, ms);
  if (ec != std::errc() || p != end || ms < 50 || ms > corvane::agent::kSchedulerPeriodMs) {
    return corvane::agent::kSchedulerPeriodMs;
  }
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace corvane;
  // Without any display the agent still schedules: Qt's offscreen platform
  // stands in for the desktop.
  if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QString qpa = QGuiApplication::platformName();
    const bool headless = qpa == QLatin1String("offscreen") || qpa == QLatin1String("minimal");

    platform::Paths paths = platform::ResolveProcessPaths();
    platform::DesktopIntegration desktop(platform::DesktopPlacesOf(paths),
                                         platform::RegistryViewOfStore(paths.registry_store()),
                                         platform::DesktopToolsFromEnvironment());
    platform::Registry registry(paths.registry_store(), &desktop);
    platform::SystemClock clock;
    std::unique_ptr<agent::AgentPlatform> services = agent::MakeAgentPlatform(paths);
    agent::ModalRunner runner(headless, std::cerr);

    agent::AgentSetup setup;
    setup.registry = &registry;
    setup.paths = paths;
    setup.clock = &clock;
    setup.platform = services.get();
    setup.runner = &runner;
    setup.locale_language_name = platform::LocaleLanguageName(platform::ProcessEnvironment());
    setup.tick_ms = TickPeriod();
    setup.with_icon = !headless;
    setup.notification_area = QSystemTrayIcon::isSystemTrayAvailable();
    setup.err = &std::cerr;
    agent::Agent agent(setup);
    const int code = agent.Run();
    std::fflush(nullptr);
    // Operations still running end with the process: leave now, before
    // anything they use is destroyed under them.
    ::_exit(code);
  }
}
