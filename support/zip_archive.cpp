#include "support/zip_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <random>
#include <memory>
#include <system_error>

#include "platform/unique_fd.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw ZipError(what); }

std::string OpenErrorText(int code) {
  zip_error_t e;
  zip_error_init_with_code(&e, code);
  std::string text = zip_error_strerror(&e);
  zip_error_fini(&e);
  return text;
}

// An open archive, discarded (nothing written) unless closed.
class Archive {
 public:
  Archive(const fs::path& path, int flags) : path_(path) {
    int code = 0;
    z_ = zip_open(path.c_str(), flags, &code);
    if (!z_) Fail("cannot open archive " + path.string() + ": " + OpenErrorText(code));
  }
  ~Archive() {
    if (z_) zip_discard(z_);
  }
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  zip_t* get() const { return z_; }
  const fs::path& path() const { return path_; }
  std::string Error() const { return zip_strerror(z_); }

  // Writes the changes through libzip's temporary file and rename.
  void Close() {
    if (zip_close(z_) != 0) {
      std::string why = Error();
      zip_discard(z_);
      z_ = nullptr;
      Fail("cannot write archive " + path_.string() + ": " + why);
    }
    z_ = nullptr;
  }

 private:
  fs::path path_;
  zip_t* z_ = nullptr;
};

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return out;
}

// Components of a stored name, either separator counted (archives made on
// Windows use backslashes).
std::vector<std::string_view> Components(std::string_view name) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      if (i > start) parts.push_back(name.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// A name that would land outside the base folder wherever it is extracted.
bool IsUnsafeName(std::string_view name) {
  if (name.empty()) return true;
  if (name.front() == '/' || name.front() == '\\') return true;
  if (name.size() >= 2 && name[1] == ':') return true;  // a drive letter
  for (auto part : Components(name))
    if (part == ".." || part == ".") return true;
  return false;
}

zip_int64_t Locate(const Archive& a, const std::string& name) { return zip_name_locate(a.get(), name.c_str(), 0); }

void SetTimes(int fd, std::time_t mtime) {
  timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_sec = mtime;
  ts[1].tv_nsec = 0;
  ::futimens(fd, ts);
}

// One extracted file under a temporary name in its folder, renamed over the
// final name only when whole.
class PendingFile {
 public:
  explicit PendingFile(const fs::path& final_path) : final_(final_path) {
    // 0666 under the umask, as a plainly created file would be; mkstemp's
    // 0600 would hide restored files from their group.
    std::random_device seed;
    std::mt19937_64 rng((std::uint64_t{seed()} << 32) ^ seed());
    const std::string stem = "." + final_.filename().string().substr(0, 64);
    for (int attempt = 0; attempt < 64 && fd_.get() < 0; ++attempt) {
      char suffix[24];
      std::snprintf(suffix, sizeof suffix, ".%012llx.part", static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
      std::string candidate = (final_.parent_path() / (stem + suffix)).string();
      int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        fd_.Reset(fd);
        temp_ = candidate;
      } else if (errno != EEXIST) {
        Fail("cannot create " + final_.string() + ": " + std::strerror(errno));
      }
    }
    if (fd_.get() < 0) Fail("cannot create " + final_.string() + ": no free temporary name");
  }
  ~PendingFile() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  void Write(const char* data, std::size_t n) {
    while (n > 0) {
      ssize_t w = ::write(fd_.get(), data, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        Fail("cannot write " + final_.string() + ": " + std::strerror(errno));
      }
      data += w;
      n -= static_cast<std::size_t>(w);
    }
  }
  void Commit(std::time_t mtime) {
    SetTimes(fd_.get(), mtime);
    if (fd_.Close() != 0) Fail("cannot write " + final_.string() + ": " + std::strerror(errno));
    if (::rename(temp_.c_str(), final_.c_str()) != 0)
      Fail("cannot replace " + final_.string() + ": " + std::strerror(errno));
    temp_.clear();
  }

 private:
  fs::path final_;
  std::string temp_;
  platform::UniqueFd fd_;
};

enum class ReadOutcome { Done, BadPassword };

// Copies one entry into `out`; a wrong password shows as a failed open, or,
// for the one password in 256 that passes the traditional check byte, as a
// damaged stream.
ReadOutcome CopyEntry(const Archive& a, zip_uint64_t index, const zip_stat_t& st, const std::string& password,
                      PendingFile& out) {
  const bool encrypted = st.encryption_method != ZIP_EM_NONE;
  zip_file_t* f = encrypted ? zip_fopen_index_encrypted(a.get(), index, 0, password.empty() ? nullptr : password.c_str())
                            : zip_fopen_index(a.get(), index, 0);
  if (!f) {
    int code = zip_error_code_zip(zip_get_error(a.get()));
    if (encrypted && (code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD)) return ReadOutcome::BadPassword;
    Fail("cannot read entry " + std::string(st.name) + " of " + a.path().string() + ": " + a.Error());
  }
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> guard(f, zip_fclose);
  std::array<char, 65536> buf;
  for (;;) {
    zip_int64_t n = zip_fread(f, buf.data(), buf.size());
    if (n < 0) {
      int code = zip_error_code_zip(zip_file_get_error(f));
      if (encrypted && (code == ZIP_ER_CRC || code == ZIP_ER_ZLIB || code == ZIP_ER_WRONGPASSWD))
        return ReadOutcome::BadPassword;
      Fail("cannot read entry " + std::string(st.name) + " of " + a.path().string() + ": " +
           zip_file_strerror(f));
    }
    if (n == 0) break;
    out.Write(buf.data(), static_cast<std::size_t>(n));
  }
  return ReadOutcome::Done;
}

}  // namespace

std::string ZipEntryName(const fs::path& file, bool keep_dir_names) {
  fs::path full = fs::absolute(file).lexically_normal();
  if (!keep_dir_names) return full.filename().string();
  return full.relative_path().generic_string();
}

bool IsAlreadyCompressed(std::string_view file_name) {
  static const std::array<std::string_view, 17> kEndings = {".gif", ".png", ".z",   ".zip", ".zoo", ".arc",
                                                            ".lzh", ".arj", ".taz", ".tgz", ".lha", ".rar",
                                                            ".ace", ".cab", ".gz",  ".gzip", ".jar"};
  const std::string name = Lower(file_name);
  return std::any_of(kEndings.begin(), kEndings.end(), [&](std::string_view e) {
    return name.size() > e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0;
  });
}

void AddFilesToZip(const fs::path& archive, const std::vector<fs::path>& files, const ZipAddOptions& options) {
  if (options.level < 0 || options.level > 9)
    Fail("compression level " + std::to_string(options.level) + " is not between 0 and 9");
  // Checked now, not when libzip reads them at close, so that the message
  // names the file.
  for (const auto& f : files) {
    struct stat st;
    if (::stat(f.c_str(), &st) != 0) Fail("cannot add " + f.string() + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) Fail("cannot add " + f.string() + ": not a regular file");
    if (::access(f.c_str(), R_OK) != 0) Fail("cannot add " + f.string() + ": " + std::strerror(errno));
  }
  Archive a(archive, ZIP_CREATE | (options.replace ? ZIP_TRUNCATE : 0));
  for (const auto& f : files) {
    const std::string name = ZipEntryName(f, options.keep_dir_names);
    if (name.empty()) Fail("cannot add " + f.string() + ": no name to store it under");
    zip_source_t* src = zip_source_file(a.get(), f.c_str(), 0, -1);
    if (!src) Fail("cannot add " + f.string() + ": " + a.Error());
    zip_int64_t index = Locate(a, name);
    if (index >= 0) {
      if (zip_file_replace(a.get(), static_cast<zip_uint64_t>(index), src, 0) != 0) {
        zip_source_free(src);
        Fail("cannot add " + f.string() + ": " + a.Error());
      }
    } else {
      index = zip_file_add(a.get(), name.c_str(), src, ZIP_FL_ENC_GUESS);
      if (index < 0) {
        zip_source_free(src);
        Fail("cannot add " + f.string() + ": " + a.Error());
      }
    }
    const auto i = static_cast<zip_uint64_t>(index);
    const bool store = options.level == 0 || IsAlreadyCompressed(f.filename().string());
    if (zip_set_file_compression(a.get(), i, store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 store ? 0 : static_cast<zip_uint32_t>(options.level)) != 0)
      Fail("cannot add " + f.string() + ": " + a.Error());
    if (!options.password.empty() &&
        zip_file_set_encryption(a.get(), i, ZIP_EM_TRAD_PKWARE, options.password.c_str()) != 0)
      Fail("cannot encrypt " + f.string() + ": " + a.Error());
  }
  a.Close();
}

platform::DateTime ZipEntry::Modified() const {
  std::tm tm{};
  tm.tm_year = ((dos_date >> 9) & 0x7F) + 80;
  tm.tm_mon = ((dos_date >> 5) & 0x0F) - 1;
  tm.tm_mday = dos_date & 0x1F;
  tm.tm_hour = (dos_time >> 11) & 0x1F;
  tm.tm_min = (dos_time >> 5) & 0x3F;
  tm.tm_sec = (dos_time & 0x1F) * 2;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

std::vector<ZipEntry> ListZipEntries(const fs::path& archive) {
  std::vector<ZipEntry> out;
  std::error_code ec;
  if (!fs::exists(archive, ec)) return out;
  Archive a(archive, ZIP_RDONLY);
  const zip_int64_t count = zip_get_num_entries(a.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(a.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0)
      Fail("cannot read the directory of " + archive.string() + ": " + a.Error());
    ZipEntry e;
    e.name = st.name;
    e.compressed_size = st.comp_size;
    e.size = st.size;
    e.encrypted = st.encryption_method != ZIP_EM_NONE;
    e.is_directory = !e.name.empty() && e.name.back() == '/';
    // libzip turned the stored DOS fields into local time; turning them
    // back gives the same fields.
    std::tm tm{};
    std::time_t t = st.mtime;
    if (localtime_r(&t, &tm) && tm.tm_year >= 80) {
      e.dos_date = static_cast<std::uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
      e.dos_time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    } else {
      e.dos_date = (1 << 5) | 1;  // 1 January 1980, the format's first day
    }
    out.push_back(std::move(e));
  }
  return out;
}

void DeleteZipEntries(const fs::path& archive, const std::vector<std::string>& names) {
  Archive a(archive, 0);
  std::vector<zip_uint64_t> indices;
  for (const auto& n : names) {
    zip_int64_t i = Locate(a, n);
    if (i < 0) Fail("no entry " + n + " in " + archive.string());
    indices.push_back(static_cast<zip_uint64_t>(i));
  }
  for (auto i : indices)
    if (zip_delete(a.get(), i) != 0) Fail("cannot delete an entry of " + archive.string() + ": " + a.Error());
  a.Close();
}

void ExtractZipEntries(const fs::path& archive, const std::vector<std::string>& names, const fs::path& base,
                       const ZipExtractOptions& options) {
  Archive a(archive, ZIP_RDONLY);
  std::vector<zip_uint64_t> indices;
  if (names.empty()) {
    const zip_int64_t count = zip_get_num_entries(a.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) indices.push_back(static_cast<zip_uint64_t>(i));
  } else {
    for (const auto& n : names) {
      zip_int64_t i = Locate(a, n);
      if (i < 0) Fail("no entry " + n + " in " + archive.string());
      indices.push_back(static_cast<zip_uint64_t>(i));
    }
  }
  // Every name is checked before the first file is written.
  std::vector<zip_stat_t> stats(indices.size());
  for (std::size_t k = 0; k < indices.size(); ++k) {
    if (zip_stat_index(a.get(), indices[k], 0, &stats[k]) != 0)
      Fail("cannot read the directory of " + archive.string() + ": " + a.Error());
    if (IsUnsafeName(stats[k].name))
      Fail("refused entry \"" + std::string(stats[k].name) + "\" of " + archive.string() +
           ": its name would leave the destination folder");
  }
  std::error_code ec;
  fs::create_directories(base, ec);
  if (ec) Fail("cannot create " + base.string() + ": " + ec.message());

  std::string password = options.password;
  int prompts = 0;
  for (std::size_t k = 0; k < indices.size(); ++k) {
    const zip_stat_t& st = stats[k];
    const std::string name = st.name;
    auto parts = Components(name);
    const bool is_dir = name.back() == '/' || name.back() == '\\';
    if (is_dir) {
      if (options.keep_dir_names) {
        fs::path dir = base;
        for (auto p : parts) dir /= std::string(p);
        fs::create_directories(dir, ec);
        if (ec) Fail("cannot create " + dir.string() + ": " + ec.message());
      }
      continue;
    }
    fs::path target = base;
    if (options.keep_dir_names) {
      for (auto p : parts) target /= std::string(p);
      fs::create_directories(target.parent_path(), ec);
      if (ec) Fail("cannot create " + target.parent_path().string() + ": " + ec.message());
    } else {
      target /= std::string(parts.back());
    }
    for (;;) {
      PendingFile out(target);
      if (CopyEntry(a, indices[k], st, password, out) == ReadOutcome::Done) {
        out.Commit(st.mtime);
        break;
      }
      if (!options.prompt || prompts >= options.max_prompts || (++prompts, !options.prompt(name, password)))
        Fail("wrong or missing password for entry " + name + " of " + archive.string());
    }
  }
}

}  // namespace corvane
