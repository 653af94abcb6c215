#include "engine/journal.h"

#include <ctime>
#include <stdexcept>

#include "platform/atomic_file.h"

namespace corvane {
namespace {

constexpr std::string_view kEol = "\r\n";

void AppendLines(std::string& out, const std::vector<std::string>& lines) {
  for (const auto& l : lines) {
    out += l;
    out += kEol;
  }
}

// Appends to whatever the file holds now, never replacing what another run
// saved since; only this run's lines are written, however long the day's
// file has grown.
void AppendUnderLock(const std::filesystem::path& file, const std::vector<std::string>& lines) {
  // A missing logs folder (no agent has started yet) must not cost the
  // run its journal.
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  std::string text;
  AppendLines(text, lines);
  if (!platform::LockedAppend(file, text, kEol)) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

std::string TipText(std::string_view text) {
  std::string tip = "Corvane 3 : ";
  tip += text;
  tip += "   ";
  std::size_t chars = 0;
  for (std::size_t i = 0; i < tip.size(); ++i) {
    if ((static_cast<unsigned char>(tip[i]) & 0xC0) != 0x80) {
      if (chars == 63) return tip.substr(0, i);
      ++chars;
    }
  }
  return tip;
}

std::string DateJour(platform::DateTime day) {
  std::time_t t = std::chrono::system_clock::to_time_t(day);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d_%02d_%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}

std::filesystem::path JournalPath(const std::filesystem::path& logs_dir, std::string_view stamp,
                                  std::string_view nom) {
  return logs_dir / (std::string(stamp) + " " + std::string(nom) + ".jcv");
}

std::filesystem::path CalendarPath(const std::filesystem::path& logs_dir, std::string_view stamp) {
  return logs_dir / (std::string(stamp) + " .cal");
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return lines;
}

RunJournal::RunJournal(std::filesystem::path logs_dir, std::string nom, JournalSink* sink)
    : logs_dir_(std::move(logs_dir)), nom_(std::move(nom)), sink_(sink) {}

void RunJournal::Open(platform::DateTime now, std::string_view text) {
  stamp_ = DateJour(now);
  open_ = true;
  Add(std::string(text) + " " + platform::FormatTime(now));
}

void RunJournal::Add(std::string_view line) {
  if (sink_) sink_->Line(line);
  if (open_) lines_.emplace_back(line);
}

void RunJournal::Close(platform::DateTime now, bool suspended, std::string_view suspension_text,
                       std::string_view fin_text) {
  if (!open_) return;
  if (suspended) {
    Add(suspension_text);
    Add("");
  }
  Add(std::string(fin_text) + " " + platform::FormatTime(now));
  Add("");
  AppendUnderLock(JournalPath(logs_dir_, stamp_, nom_), lines_);
  open_ = false;
}

void EcritCalendrier(const std::filesystem::path& logs_dir, std::string_view stamp,
                     const std::vector<std::string>& lines) {
  AppendUnderLock(CalendarPath(logs_dir, stamp), lines);
}

}  // namespace corvane
