// Settings-file key rates: reads while the file is unchanged (what a scan of
// many files costs), and writes (each a locked, durable replacement). The
// rate of bare stat() calls on the same file is printed beside them: it is
// the floor a read that must notice other processes' writes cannot go under.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/ini_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "corvane-settings-bench";
  fs::create_directories(dir);
  const fs::path file = dir / "bench.ini";
  fs::remove(file);

  // A folder file of realistic shape: the parameters, an extension list and
  // 200 directories with 25 excluded files each.
  std::string text = "[PARAMS]\n";
  const char* params[] = {"Nom", "TypeSauve", "TypeDelai", "TypeDesti", "Icone", "Journal", "SousRep", "Miroir",
                          "Origine", "Destination", "DelaiSauve", "HeureSauve", "NbMaxFic", "VolumeMax", "TauxZip",
                          "LastSave", "Encours", "Suspension", "Compteur"};
  for (const char* p : params) text += std::string(p) + "=1\n";
  text += "[EXTENSIONS]\ndoc=1\nxls=1\nodt=1\n";
  std::vector<std::pair<std::string, std::string>> lookups;
  for (int d = 0; d < 200; ++d) {
    std::string section = "/home/anne/Documents/dir" + std::to_string(d) + "/";
    text += "[" + section + "]\n";
    for (int f = 0; f < 25; ++f) {
      std::string key = "file" + std::to_string(f) + ".txt";
      text += key + "=0\n";
      lookups.emplace_back(section, key);
    }
  }
  {
    FILE* out = std::fopen(file.c_str(), "w");
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
  }
  std::mt19937 rng(1);
  std::shuffle(lookups.begin(), lookups.end(), rng);

  corvane::platform::IniFile ini(file);
  const int kReads = 1000000;
  std::size_t found = 0;
  auto t0 = Clock::now();
  for (int i = 0; i < kReads; ++i) {
    const auto& [section, key] = lookups[static_cast<std::size_t>(i) % lookups.size()];
    found += ini.Read(section, key).has_value();
  }
  double read_s = Seconds(t0);

  struct stat st;
  t0 = Clock::now();
  for (int i = 0; i < kReads; ++i) found += ::stat(file.c_str(), &st) == 0;
  double stat_s = Seconds(t0);

  const int kWrites = 2000;
  t0 = Clock::now();
  for (int i = 0; i < kWrites; ++i) ini.Write("PARAMS", "Compteur", std::to_string(i));
  double write_s = Seconds(t0);

  std::printf("settings file: %zu bytes, %zu keys\n", text.size(), lookups.size() + 22);
  std::printf("key reads, file unchanged: %12.0f reads/s\n", kReads / read_s);
  std::printf("bare stat() of the file:   %12.0f calls/s  (read costs %.2f stat calls)\n", kReads / stat_s,
              (read_s / kReads) / (stat_s / kReads));
  std::printf("key writes (durable):      %12.0f writes/s\n", kWrites / write_s);
  fs::remove(file);
  return found == 0 ? 1 : 0;
}
