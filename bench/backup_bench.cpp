// The backup run against the peer tools on the same trees, in one run:
// a first full copy against `cp -a`, and a run that finds nothing to copy
// against `rsync -a` on up-to-date trees. Figures are printed as ratios.
//   backup_bench [WORK_DIR] [--preset small|mixed|large] [--seed N] [--rounds N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/corpus.h"
#include "engine/configure.h"
#include "engine/custom_dossier.h"
#include "support/folder_settings.h"

namespace {

namespace fs = std::filesystem;
using corvane::bench::Clock;
using corvane::bench::Seconds;
using corvane::bench::Settle;
using corvane::bench::TimeCommand;

struct EngineRun {
  double seconds = 0;
  std::size_t selected = 0;
};

EngineRun TimeEngine(const fs::path& ini, const fs::path& logs, const fs::path& work) {
  corvane::EngineServices sv;
  sv.logs_dir = logs;
  sv.work_dir = work;
  sv.computer_name = "bench";
  corvane::TCustomDossier d(sv);
  corvane::ConfigureBackupRun(d, {"Bench", ini.string()}, ini, corvane::RunCaller::AgentTray, false,
                              std::chrono::system_clock::now());
  auto t0 = Clock::now();
  d.LanceSauvegarde();
  EngineRun r{Seconds(t0), d.FichiersSelectionnes().size()};
  if (d.CodeErreur() != 0) {
    std::fprintf(stderr, "backup run failed with code %d\n", d.CodeErreur());
    std::exit(1);
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path work = fs::temp_directory_path() / "corvane-backup-bench";
  std::string preset_name = "small";
  std::uint64_t seed = 1;
  int rounds = 3;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--preset" && i + 1 < argc) preset_name = argv[++i];
    else if (a == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--rounds" && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (a.starts_with("-")) corvane::bench::Usage("backup_bench [WORK_DIR] [--preset small|mixed|large] [--seed N] [--rounds N]");
    else work = a;
  }
  auto preset = corvane::bench::PresetFromName(preset_name);
  if (!preset) {
    std::fprintf(stderr, "unknown preset %s\n", preset_name.c_str());
    return 2;
  }
  corvane::bench::ClaimWorkDir(work);
  const fs::path src = work / "src", logs = work / "logs", ini = work / "Bench.ini";
  fs::create_directories(logs);
  corvane::bench::WriteTree(corvane::bench::MakePlan(*preset, seed), src);
  const auto stats = corvane::bench::ScanTree(src);
  std::printf("corpus %s seed %llu: %llu files, %llu folders, %.1f MB\n", preset_name.c_str(),
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(stats.files),
              static_cast<unsigned long long>(stats.folders), static_cast<double>(stats.bytes) / 1e6);
  // Warm the page cache for everyone alike.
  TimeCommand({"cp", "-a", src.string(), (work / "warm").string()});

  double best_cp_sync = 1e9;
  double best_engine_full = 1e9, best_cp = 1e9, best_engine_noop = 1e9, best_rsync = 1e9;
  std::size_t noop_selected = 0, full_selected = 0;
  for (int r = 0; r < rounds; ++r) {
    // Fresh folders every round, removed only at the end: creating files
    // right after many deletions costs ext4 more, and would favour whoever
    // comes second.
    const std::string n = std::to_string(r);
    const fs::path dest_engine = work / ("dest-engine" + n), dest_cp = work / ("dest-cp" + n),
                   dest_rsync = work / ("dest-rsync" + n);
    fs::remove(ini);
    fs::create_directories(dest_engine);
    // The limits at their maxima, every file wanted, the journal kept.
    corvane::FolderSettings s(ini);
    s.WriteString("PARAMS", "Origine", src.string());
    s.WriteString("PARAMS", "Destination", dest_engine.string());
    s.WriteBool("PARAMS", "SousRep", true);
    s.WriteBool("PARAMS", "Journal", true);
    s.WriteInteger("PARAMS", "NbMaxFic", 32000);
    s.WriteInteger("PARAMS", "NbMaxFicMin", 32000);
    s.WriteInteger("PARAMS", "DelaiSauve", 1440);
    s.WriteInteger("PARAMS", "VolumeMax", 32000);

    // Alternate who goes first.
    auto time_cp = [&] {
      Settle();
      best_cp = std::min(best_cp, TimeCommand({"cp", "-a", src.string(), dest_cp.string()}));
      Settle();
      // The backup run makes its copies durable; cp followed by a flush of
      // the file system is the like-for-like peer.
      auto t0 = Clock::now();
      TimeCommand({"cp", "-a", src.string(), dest_cp.string() + "-sync"});
      TimeCommand({"sync", "-f", dest_cp.string() + "-sync"});
      best_cp_sync = std::min(best_cp_sync, Seconds(t0));
    };
    if (r % 2) time_cp();
    Settle();
    auto full = TimeEngine(ini, logs, work / "work");
    full_selected = full.selected;
    best_engine_full = std::min(best_engine_full, full.seconds);
    if (r % 2 == 0) time_cp();

    Settle();
    auto noop = TimeEngine(ini, logs, work / "work");
    noop_selected = noop.selected;
    best_engine_noop = std::min(best_engine_noop, noop.seconds);
    TimeCommand({"rsync", "-a", src.string() + "/", dest_rsync.string() + "/"});
    Settle();
    best_rsync = std::min(best_rsync, TimeCommand({"rsync", "-a", src.string() + "/", dest_rsync.string() + "/"}));
  }
  const double files = static_cast<double>(stats.files);
  std::printf("best of %d rounds, warm cache, normal priority\n", rounds);
  std::printf("first full copy: backup run %.3f s (%zu files, %.0f files/s)   cp -a %.3f s   ratio %.2f (goal <= 1.1)\n",
              best_engine_full, full_selected, files / best_engine_full, best_cp, best_engine_full / best_cp);
  std::printf("                 against cp -a then sync -f %.3f s: ratio %.2f\n", best_cp_sync,
              best_engine_full / best_cp_sync);
  std::printf("nothing to copy: backup run %.3f s (%zu selected, %.0f files/s)   rsync -a %.3f s   ratio %.2f (goal <= 1.2)\n",
              best_engine_noop, noop_selected, files / best_engine_noop, best_rsync, best_engine_noop / best_rsync);
  fs::remove_all(work);
  return full_selected == stats.files && noop_selected == 0 ? 0 : 1;
}
