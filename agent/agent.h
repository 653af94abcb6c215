// The agent's main sequence: everything between being started and entering
// the event loop, and the loop itself.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "agent/agent_dialogs.h"
#include "agent/agent_platform.h"
#include "agent/agent_window.h"
#include "agent/scheduler.h"
#include "platform/datetime.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/message_catalog.h"

namespace corvane::agent {

// Age limits of the old-log purge when the options window was never saved:
// the values it shows before that.
inline constexpr int kDefaultDelaiCal = 10;
inline constexpr int kDefaultDelaiJcv = 7;

struct AgentSetup {
  platform::Registry* registry = nullptr;
  platform::Paths paths;
  const platform::Clock* clock = nullptr;
  AgentPlatform* platform = nullptr;
  ModalRunner* runner = nullptr;
  // Null: operations prepared by the engine and run on worker threads.
  OperationStarter* starter = nullptr;
  std::string locale_language_name;  // "Français (France)"
  int tick_ms = kSchedulerPeriodMs;
  bool with_icon = true;  // false: no display to show an icon on
  // False when the desktop has no notification area yet: the icon is made
  // all the same and appears if one comes (a panel started after us).
  bool notification_area = true;
  std::ostream* err = nullptr;
};

// Deletes "*.cal" files older than `delai_cal` days and "*.jcv" files older
// than `delai_jcv` days, age counted from today's midnight to the file's
// last write. Files that cannot go stay; nothing is reported.
void PurgeOldLogs(const std::filesystem::path& logs_dir, platform::DateTime now, int delai_cal, int delai_jcv);

class Agent {
 public:
  explicit Agent(AgentSetup setup);
  ~Agent();

  // The start-up steps. False when the agent must end (a second instance,
  // or no control socket): the message was shown and nothing was armed.
  bool Start();
  // Start, then the event loop until the agent is asked to end; the exit code.
  int Run();

  const std::string& Language() const { return language_; }
  const MessageCatalog& Catalog() const { return catalog_; }
  TAgentWindow* Window() { return window_.get(); }
  Scheduler* GetScheduler() { return scheduler_.get(); }

 private:
  AgentSetup setup_;
  std::string language_;
  MessageCatalog catalog_;
  std::unique_ptr<TAgentWindow> window_;
  std::unique_ptr<EngineStarter> engine_starter_;
  std::unique_ptr<Scheduler> scheduler_;
};

}  // namespace corvane::agent
