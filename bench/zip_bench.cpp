// Compressed, archive and encrypted runs against the peer tools measured in
// the same run, printed as ratios:
//   - a compressed backup (one ZIP per file, level 9) of `small` against
//     `zip -9` run file by file, and against one `zip -r -9` of the tree;
//   - an archive run of `small` (level 9) against `zip -r -9`;
//   - an encrypted backup of `large` against OpenSSL's raw CAST-128 CBC rate.
//   zip_bench [WORK_DIR] [--only compressed|archive|encrypted] [--rounds N] [--seed N]
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/cast.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/corpus.h"
#include "engine/configure.h"
#include "engine/custom_dossier.h"
#include "support/folder_settings.h"
#include "support/stored_secret.h"

namespace {

namespace fs = std::filesystem;
using corvane::bench::Clock;
using corvane::bench::MustRun;
using corvane::bench::Seconds;
using corvane::bench::Settle;

void WriteSettings(const fs::path& ini, const fs::path& src, const fs::path& dest, int type) {
  fs::remove(ini);
  corvane::FolderSettings s(ini);
  s.WriteString("PARAMS", "Origine", src.string());
  s.WriteString("PARAMS", "Destination", dest.string());
  s.WriteInteger("PARAMS", "TypeSauve", type);
  s.WriteInteger("PARAMS", "TauxZip", 9);
  s.WriteString("PARAMS", "Cryptage", corvane::EncryptSetting("benchmark password"));
  s.WriteBool("PARAMS", "SousRep", true);
  s.WriteBool("PARAMS", "Journal", true);
  s.WriteInteger("PARAMS", "NbMaxFic", 32000);
  s.WriteInteger("PARAMS", "NbMaxFicMin", 32000);
  s.WriteInteger("PARAMS", "DelaiSauve", 1440);
  s.WriteInteger("PARAMS", "VolumeMax", 32000);
}

// One run of the folder; its time and how many files it selected.
std::pair<double, std::size_t> TimeEngine(const fs::path& ini, const fs::path& work, bool archive) {
  corvane::EngineServices sv;
  sv.logs_dir = work / "logs";
  sv.work_dir = work / "work";
  sv.computer_name = "bench";
  corvane::TCustomDossier d(sv);
  corvane::ConfigureBackupRun(d, {"Bench", ini.string()}, ini, corvane::RunCaller::AgentTray, archive,
                              std::chrono::system_clock::now());
  auto t0 = Clock::now();
  if (archive) d.LanceArchivage();
  else d.LanceSauvegarde();
  const double s = Seconds(t0);
  if (d.CodeErreur() != 0) {
    std::fprintf(stderr, "run failed with code %d\n", d.CodeErreur());
    std::exit(1);
  }
  return {s, d.FichiersSelectionnes().size()};
}

std::vector<fs::path> FilesOf(const fs::path& root) {
  std::vector<fs::path> files;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files.push_back(e.path());
  return files;
}

fs::path MakeCorpus(const fs::path& work, const std::string& preset, std::uint64_t seed) {
  const fs::path src = work / ("src-" + preset);
  if (!fs::exists(src)) corvane::bench::WriteTree(corvane::bench::MakePlan(*corvane::bench::PresetFromName(preset), seed), src);
  const auto stats = corvane::bench::ScanTree(src);
  std::printf("corpus %s seed %llu: %llu files, %llu folders, %.1f MB\n", preset.c_str(),
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(stats.files),
              static_cast<unsigned long long>(stats.folders), static_cast<double>(stats.bytes) / 1e6);
  return src;
}

void BenchCompressed(const fs::path& work, std::uint64_t seed, int rounds) {
  const fs::path src = MakeCorpus(work, "small", seed);
  const auto files = FilesOf(src);
  double best_engine = 1e30, best_each = 1e30, best_one = 1e30;
  std::size_t selected = 0;
  for (int r = 0; r < rounds; ++r) {
    const std::string n = std::to_string(r);
    const fs::path dest = work / ("c-engine" + n), each = work / ("c-each" + n), one = work / ("c-one" + n + ".zip");
    fs::create_directories(dest);
    WriteSettings(work / "Bench.ini", src, dest, 1);
    Settle();
    auto [s, sel] = TimeEngine(work / "Bench.ini", work, false);
    best_engine = std::min(best_engine, s);
    selected = sel;
    Settle();
    auto t0 = Clock::now();
    for (const auto& f : files) {
      fs::path target = each / fs::relative(f, src);
      fs::create_directories(target.parent_path());
      target += ".zip";
      MustRun({"zip", "-q", "-9", target.string(), f.string()});
    }
    best_each = std::min(best_each, Seconds(t0));
    Settle();
    t0 = Clock::now();
    MustRun({"zip", "-q", "-r", "-9", one.string(), src.string()});
    best_one = std::min(best_one, Seconds(t0));
    fs::remove_all(dest);
    fs::remove_all(each);
    fs::remove(one);
  }
  std::printf("compressed backup (one ZIP per file, level 9), %zu files, best of %d:\n", selected, rounds);
  std::printf("  backup run %.2f s   zip -9 file by file %.2f s   ratio %.2f\n", best_engine, best_each,
              best_engine / best_each);
  std::printf("                      one zip -r -9 %.2f s        ratio %.2f\n", best_one, best_engine / best_one);
}

void BenchArchive(const fs::path& work, std::uint64_t seed, int rounds) {
  const fs::path src = MakeCorpus(work, "small", seed);
  double best_engine = 1e30, best_zip = 1e30;
  std::size_t selected = 0;
  for (int r = 0; r < rounds; ++r) {
    const std::string n = std::to_string(r);
    const fs::path dest = work / ("a-engine" + n), one = work / ("a-zip" + n + ".zip");
    fs::create_directories(dest);
    WriteSettings(work / "Bench.ini", src, dest, 4);
    // Alternate who goes first.
    auto time_zip = [&] {
      Settle();
      auto t0 = Clock::now();
      MustRun({"zip", "-q", "-r", "-9", one.string(), src.string()});
      best_zip = std::min(best_zip, Seconds(t0));
    };
    if (r % 2) time_zip();
    Settle();
    auto [s, sel] = TimeEngine(work / "Bench.ini", work, true);
    best_engine = std::min(best_engine, s);
    selected = sel;
    if (r % 2 == 0) time_zip();
    fs::remove_all(dest);
    fs::remove(one);
  }
  std::printf("archive run (level 9), %zu files, best of %d:\n", selected, rounds);
  std::printf("  archive run %.2f s   zip -r -9 %.2f s   ratio %.2f (goal <= 1.1)\n", best_engine, best_zip,
              best_engine / best_zip);
}

void BenchEncrypted(const fs::path& work, std::uint64_t seed, int rounds) {
  const fs::path src = MakeCorpus(work, "large", seed);
  const auto bytes = static_cast<double>(corvane::bench::ScanTree(src).bytes);
  // The raw rate: OpenSSL's CBC over a buffer in memory.
  std::vector<unsigned char> data(64u << 20);
  std::mt19937_64 rng(seed);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  const unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  CAST_KEY schedule;
  CAST_set_key(&schedule, 16, key);
  double best_raw = 1e30, best_engine = 1e30;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = Clock::now();
    unsigned char iv[8] = {0};
    CAST_cbc_encrypt(data.data(), data.data(), static_cast<long>(data.size()), &schedule, iv, CAST_ENCRYPT);
    best_raw = std::min(best_raw, Seconds(t0));
    const fs::path dest = work / ("e-engine" + std::to_string(r));
    fs::create_directories(dest);
    WriteSettings(work / "Bench.ini", src, dest, 2);
    Settle();
    best_engine = std::min(best_engine, TimeEngine(work / "Bench.ini", work, false).first);
    fs::remove_all(dest);
    Settle();
  }
  const double raw_rate = static_cast<double>(data.size()) / best_raw / 1e6;
  const double engine_rate = bytes / best_engine / 1e6;
  std::printf("encrypted backup of %.0f MB, best of %d:\n", bytes / 1e6, rounds);
  std::printf("  backup run %.1f MB/s   raw CAST-128 CBC %.1f MB/s   ratio %.2f (goal >= 0.85)\n", engine_rate,
              raw_rate, engine_rate / raw_rate);
}

}  // namespace

int main(int argc, char** argv) {
  fs::path work = fs::temp_directory_path() / "corvane-zip-bench";
  std::string only;
  std::uint64_t seed = 1;
  int rounds = 2;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--only" && i + 1 < argc) only = argv[++i];
    else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (a.starts_with("-")) corvane::bench::Usage("zip_bench [WORK_DIR] [--only compressed|archive|encrypted] [--rounds N] [--seed N]");
    else work = a;
  }
  corvane::bench::ClaimWorkDir(work);
  fs::create_directories(work / "logs");
  if (only.empty() || only == "compressed") BenchCompressed(work, seed, rounds);
  if (only.empty() || only == "archive") BenchArchive(work, seed, rounds);
  if (only.empty() || only == "encrypted") BenchEncrypted(work, seed, rounds);
  fs::remove_all(work);
  return 0;
}
