#include "bench/corpus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <ostream>
#include <system_error>
#include <thread>
#include <utility>

namespace corvane::bench {
namespace {

namespace fs = std::filesystem;

// ---- generator ------------------------------------------------------------

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Independent streams for the different uses of one seed, so that e.g. a
// change in how names are drawn does not shift every file's content.
enum class Stream : std::uint64_t { kPlan = 1, kVocabulary, kContent, kTouchPick, kTouchContent, kTouchTime };

std::uint64_t Derive(std::uint64_t seed, Stream stream, std::uint64_t index) {
  std::uint64_t s = seed ^ (static_cast<std::uint64_t>(stream) << 56);
  std::uint64_t a = SplitMix(s);
  s = a ^ index;
  return SplitMix(s);
}

// xoshiro256**
class Rng {
 public:
  explicit Rng(std::uint64_t seed) {
    for (auto& word : s_) word = SplitMix(seed);
  }
  std::uint64_t Next() {
    const std::uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }
  // Uniform in [0, n) for n <= 2^32 by multiply-shift: no rejection loop, and
  // a bias below 2^-32 that no benchmark can see.
  std::uint64_t Below(std::uint64_t n) { return ((Next() >> 32) * n) >> 32; }

 private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::array<std::uint64_t, 4> s_{};
};

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
  return h;
}

// Spelled out so the bytes do not depend on the host's byte order; compilers
// turn it into one store.
void StoreLittleEndian(char* out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(static_cast<unsigned char>(v >> (8 * i)));
}

// ---- vocabulary and content -------------------------------------------------

// A word is stored in a fixed slot followed by a space so that emitting it is
// one 16-byte copy whatever its length.
constexpr std::size_t kSlot = 16;
constexpr std::size_t kMaxWord = 12;  // + ".\n" still fits a slot
constexpr std::size_t kWords = 1200;
constexpr unsigned kPickBits = 12;
constexpr std::size_t kPicks = std::size_t{1} << kPickBits;
// Each word has a few usual followers and most words are one of them, so
// word sequences repeat as phrases do; independent words alone leave deflate
// below 3x. One word in 2^kFreshBits is drawn afresh.
constexpr std::size_t kSuccessors = 4;
constexpr unsigned kFreshBits = 2;
constexpr unsigned kBitsPerWord = kFreshBits + kPickBits;

class Vocabulary {
 public:
  explicit Vocabulary(std::uint64_t seed) {
    static constexpr std::array<std::string_view, 24> kOnsets = {
        "b", "c", "d", "f", "g", "h", "k", "l", "m", "n", "p", "r",
        "s", "t", "v", "w", "z", "br", "st", "tr", "ch", "sh", "pl", "gr"};
    static constexpr std::array<std::string_view, 8> kVowels = {"a", "e", "i", "o", "u", "ai", "ou", "ea"};
    static constexpr std::array<std::string_view, 8> kCodas = {"", "", "", "n", "r", "s", "l", "t"};
    Rng rng(seed);
    slots_.resize(kWords * kSlot, ' ');
    lengths_.resize(kWords);
    for (std::size_t w = 0; w < kWords; ++w) {
      std::string word;
      const std::uint64_t syllables = 1 + rng.Below(3) + (rng.Below(4) == 0 ? 1 : 0);
      for (std::uint64_t s = 0; s < syllables; ++s) {
        word += kOnsets[rng.Below(kOnsets.size())];
        word += kVowels[rng.Below(kVowels.size())];
        word += kCodas[rng.Below(kCodas.size())];
      }
      word.resize(std::min(word.size(), kMaxWord));
      std::memcpy(&slots_[w * kSlot], word.data(), word.size());
      lengths_[w] = static_cast<std::uint8_t>(word.size());
    }
    // Zipf-like frequencies (weight ~ 1/(rank+2)), as in natural text: a few
    // words make up much of it.
    std::array<std::uint64_t, kWords> cumulative{};
    std::uint64_t total = 0;
    for (std::size_t w = 0; w < kWords; ++w) cumulative[w] = total += (std::uint64_t{1} << 24) / (w + 2);
    std::size_t w = 0;
    for (std::size_t p = 0; p < kPicks; ++p) {
      const std::uint64_t target = (p * total + total / 2) / kPicks;
      while (w + 1 < kWords && cumulative[w] <= target) ++w;
      picks_[p] = static_cast<std::uint16_t>(w);
    }
    successors_.resize(kWords * kSuccessors);
    for (auto& next : successors_) next = picks_[rng.Below(kPicks)];
  }

  std::string_view Word(std::size_t w) const { return {&slots_[w * kSlot], lengths_[w]}; }
  std::string_view AnyWord(Rng& rng) const { return Word(rng.Below(kWords)); }
  const char* Slot(std::size_t w) const { return &slots_[w * kSlot]; }
  std::size_t Length(std::size_t w) const { return lengths_[w]; }
  std::size_t Pick(std::uint64_t bits) const { return picks_[bits & (kPicks - 1)]; }
  std::size_t Successor(std::size_t w, std::uint64_t bits) const {
    return successors_[w * kSuccessors + (bits % kSuccessors)];
  }

 private:
  std::string slots_;
  std::vector<std::uint8_t> lengths_;
  std::array<std::uint16_t, kPicks> picks_{};
  std::vector<std::uint16_t> successors_;
};

// Both streams give the same bytes however the output is split into calls:
// what does not fit one call is kept for the next.
class TextStream {
 public:
  TextStream(const Vocabulary& vocabulary, std::uint64_t seed)
      : vocabulary_(vocabulary), rng_(seed), words_left_(NewLineLength()) {}

  void Fill(char* out, std::size_t n) {
    std::size_t i = TakePending(out, n);
    while (n - i >= kSlot) i += Emit(out + i);
    while (i < n) {  // each round emits at least 3 bytes
      pending_len_ = Emit(pending_.data());
      pending_pos_ = 0;
      i += TakePending(out + i, n - i);
    }
  }

 private:
  std::size_t TakePending(char* out, std::size_t n) {
    const std::size_t take = std::min(n, pending_len_ - pending_pos_);
    std::memcpy(out, pending_.data() + pending_pos_, take);
    pending_pos_ += take;
    return take;
  }

  // One word and its separator; writes kSlot bytes, returns how many count.
  std::size_t Emit(char* out) {
    if (bits_left_ < kBitsPerWord) {
      bits_ = rng_.Next();
      bits_left_ = 64;
    }
    const bool fresh = (bits_ & ((1u << kFreshBits) - 1)) == 0;
    const std::uint64_t choice = bits_ >> kFreshBits;
    const std::size_t w = fresh ? vocabulary_.Pick(choice) : vocabulary_.Successor(previous_, choice);
    bits_ >>= kBitsPerWord;
    bits_left_ -= kBitsPerWord;
    previous_ = w;
    std::memcpy(out, vocabulary_.Slot(w), kSlot);
    const std::size_t len = vocabulary_.Length(w);
    if (--words_left_ > 0) return len + 1;
    words_left_ = NewLineLength();
    out[len] = '.';
    out[len + 1] = '\n';
    return len + 2;
  }

  int NewLineLength() { return static_cast<int>(4 + rng_.Below(11)); }

  const Vocabulary& vocabulary_;
  Rng rng_;
  std::uint64_t bits_ = 0;
  unsigned bits_left_ = 0;
  std::size_t previous_ = 0;
  int words_left_;
  std::array<char, kSlot> pending_{};
  std::size_t pending_len_ = 0;
  std::size_t pending_pos_ = 0;
};

class RandomStream {
 public:
  explicit RandomStream(std::uint64_t seed) : rng_(seed) {}

  void Fill(char* out, std::size_t n) {
    std::size_t i = TakePending(out, n);
    for (; n - i >= 8; i += 8) StoreLittleEndian(out + i, rng_.Next());
    if (i < n) {
      StoreLittleEndian(pending_.data(), rng_.Next());
      pending_pos_ = 0;
      pending_len_ = 8;
      i += TakePending(out + i, n - i);
    }
  }

 private:
  std::size_t TakePending(char* out, std::size_t n) {
    const std::size_t take = std::min(n, pending_len_ - pending_pos_);
    std::memcpy(out, pending_.data() + pending_pos_, take);
    pending_pos_ += take;
    return take;
  }

  Rng rng_;
  std::array<char, 8> pending_{};
  std::size_t pending_len_ = 0;
  std::size_t pending_pos_ = 0;
};

// ---- plans ------------------------------------------------------------------

constexpr std::int64_t kBaseTime = 1704067200;                // 2024-01-01 00:00:00 UTC
constexpr std::uint64_t kTimeSpan = 3ULL * 365 * 24 * 3600;   // generated times lie before the base
constexpr std::uint64_t kTouchSpan = 7ULL * 24 * 3600;        // a touch moves a time forward by up to this
constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;

struct Extensions {
  std::vector<std::string_view> text;
  std::vector<std::string_view> random;
};
const Extensions& DesktopExtensions() {
  static const Extensions e{{"txt", "doc", "csv", "log", "c", "h", "md", "html", "xml", "ini"},
                            {"jpg", "png", "zip", "pdf", "odt", "mp3", "gz", "bin"}};
  return e;
}
const Extensions& BulkExtensions() {
  static const Extensions e{{"log", "csv", "sql", "txt"}, {"iso", "img", "vmdk", "mkv", "zip"}};
  return e;
}

std::int64_t PastTime(Rng& rng) { return kBaseTime - static_cast<std::int64_t>(rng.Below(kTimeSpan)); }

std::string Capitalized(std::string_view word) {
  std::string s(word);
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

// The running index makes every name unique; a share of names has spaces and
// capitals as people's files do.
std::string FolderName(Rng& rng, const Vocabulary& v, std::size_t index) {
  if (rng.Below(4) == 0) return Capitalized(v.AnyWord(rng)) + " " + std::string(v.AnyWord(rng)) + " " + std::to_string(index);
  return std::string(v.AnyWord(rng)) + "-" + std::to_string(index);
}
std::string FileName(Rng& rng, const Vocabulary& v, std::size_t index, std::string_view ext) {
  std::string base;
  if (rng.Below(4) == 0) {
    base = Capitalized(v.AnyWord(rng)) + " " + std::string(v.AnyWord(rng)) + " " + std::to_string(index);
  } else {
    base = std::string(v.AnyWord(rng)) + "_" + std::string(v.AnyWord(rng)) + "_" + std::to_string(index);
  }
  return base + "." + std::string(ext);
}

// A random tree: each folder hangs below a uniformly chosen earlier folder (or
// the root) that is still above the depth limit.
std::vector<std::string> MakeFolders(Rng& rng, const Vocabulary& v, std::size_t count, int max_depth) {
  std::vector<std::string> paths;
  std::vector<int> depths;
  std::vector<std::ptrdiff_t> open = {-1};  // folders that may get children; -1 is the root
  for (std::size_t i = 0; i < count; ++i) {
    const std::ptrdiff_t parent = open[rng.Below(open.size())];
    const int depth = parent < 0 ? 1 : depths[static_cast<std::size_t>(parent)] + 1;
    const std::string name = FolderName(rng, v, i);
    paths.push_back(parent < 0 ? name : paths[static_cast<std::size_t>(parent)] + "/" + name);
    depths.push_back(depth);
    if (depth < max_depth) open.push_back(static_cast<std::ptrdiff_t>(i));
  }
  return paths;
}

std::string_view ExtensionFor(Rng& rng, const Extensions& e, ContentKind kind) {
  const auto& list = kind == ContentKind::kText ? e.text : e.random;
  return list[rng.Below(list.size())];
}

// Skewed sizes for `mixed`: a power-of-two bucket drawn from these weights,
// then a uniform size within it. Bucket b holds [2^b, 2^(b+1)); most files
// land in 1-64 KiB, a few reach tens of MiB.
constexpr std::array<std::uint64_t, 25> kMixedBucketWeights = {
    4, 4, 6, 8, 10, 15, 20, 30, 40, 60, 90, 120, 140, 130, 100, 75, 55, 35, 25, 15, 9, 5, 2, 1, 1};

std::uint64_t MixedSize(Rng& rng) {
  std::uint64_t total = 0;
  for (auto w : kMixedBucketWeights) total += w;
  std::uint64_t r = rng.Below(total);
  std::size_t bucket = 0;
  while (bucket + 1 < kMixedBucketWeights.size() && r >= kMixedBucketWeights[bucket]) r -= kMixedBucketWeights[bucket++];
  const std::uint64_t low = std::uint64_t{1} << bucket;
  return low + rng.Below(low);
}

void PlaceFiles(Plan& plan, Rng& rng, const Vocabulary& v, const std::vector<std::string>& folders,
                std::size_t count, const Extensions& ext, std::uint64_t seed) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t where = rng.Below(folders.size() + 1);  // 0 is the root
    PlannedFile f;
    f.kind = rng.Below(2) == 0 ? ContentKind::kText : ContentKind::kRandom;
    const std::string name = FileName(rng, v, i, ExtensionFor(rng, ext, f.kind));
    f.path = where == 0 ? name : folders[where - 1] + "/" + name;
    f.content_seed = Derive(seed, Stream::kContent, i);
    f.mtime = PastTime(rng);
    plan.files.push_back(std::move(f));
  }
}

}  // namespace

std::optional<Preset> PresetFromName(std::string_view name) {
  if (name == "small") return Preset::kSmall;
  if (name == "large") return Preset::kLarge;
  if (name == "mixed") return Preset::kMixed;
  return std::nullopt;
}

ContentKind KindForName(std::string_view file_name) {
  const auto dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return ContentKind::kRandom;
  const std::string_view ext = file_name.substr(dot + 1);
  for (const Extensions* e : {&DesktopExtensions(), &BulkExtensions()}) {
    if (std::find(e->text.begin(), e->text.end(), ext) != e->text.end()) return ContentKind::kText;
  }
  return ContentKind::kRandom;
}

Plan MakePlan(Preset preset, std::uint64_t seed) {
  Plan plan;
  plan.vocabulary_seed = Derive(seed, Stream::kVocabulary, 0);
  const Vocabulary vocabulary(plan.vocabulary_seed);
  Rng rng(Derive(seed, Stream::kPlan, 0));
  std::vector<std::string> folders;

  switch (preset) {
    case Preset::kSmall: {
      folders = MakeFolders(rng, vocabulary, 950 + rng.Below(101), 4);
      PlaceFiles(plan, rng, vocabulary, folders, 19'000 + rng.Below(2'001), DesktopExtensions(), seed);
      for (auto& f : plan.files) f.size = kKiB + rng.Below(16 * kKiB - kKiB + 1);
      break;
    }
    case Preset::kLarge: {
      constexpr std::size_t kCount = 20;
      constexpr std::uint64_t kFloor = 20 * kMiB;
      folders = MakeFolders(rng, vocabulary, 3, 1);
      PlaceFiles(plan, rng, vocabulary, folders, kCount, BulkExtensions(), seed);
      // Exactly half of each kind, in a seeded order.
      for (std::size_t i = 0; i < kCount; ++i) plan.files[i].kind = i < kCount / 2 ? ContentKind::kText : ContentKind::kRandom;
      for (std::size_t i = kCount - 1; i > 0; --i) std::swap(plan.files[i].kind, plan.files[rng.Below(i + 1)].kind);
      for (auto& f : plan.files) {
        const std::string_view ext = ExtensionFor(rng, BulkExtensions(), f.kind);
        f.path.erase(f.path.rfind('.') + 1);
        f.path += ext;
      }
      // 1 GiB exactly: a floor for each file, the rest shared out by weight.
      std::array<std::uint64_t, kCount> weights{};
      std::uint64_t weight_sum = 0;
      for (auto& w : weights) weight_sum += w = 8192 + rng.Below(65536 - 8192 + 1);
      const std::uint64_t rest = 1024 * kMiB - kCount * kFloor;
      std::uint64_t given = 0;
      for (std::size_t i = 0; i < kCount; ++i) {
        const std::uint64_t share = i + 1 < kCount ? rest * weights[i] / weight_sum : rest - given;
        given += share;
        plan.files[i].size = kFloor + share;
      }
      break;
    }
    case Preset::kMixed: {
      folders = MakeFolders(rng, vocabulary, 290 + rng.Below(21), 5);
      PlaceFiles(plan, rng, vocabulary, folders, 4'900 + rng.Below(201), DesktopExtensions(), seed);
      for (auto& f : plan.files) f.size = MixedSize(rng);  // below 32 MiB
      // One file of exactly 64 MiB and several empty ones, at seeded places.
      std::vector<std::size_t> order(plan.files.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
      const std::size_t empty = 6 + rng.Below(7);
      for (std::size_t i = 0; i <= empty; ++i) std::swap(order[i], order[i + rng.Below(order.size() - i)]);
      plan.files[order[0]].size = 64 * kMiB;
      for (std::size_t i = 1; i <= empty; ++i) plan.files[order[i]].size = 0;
      break;
    }
  }
  for (auto& path : folders) plan.folders.push_back({std::move(path), PastTime(rng)});
  plan.root_mtime = PastTime(rng);
  return plan;
}

// ---- writing ----------------------------------------------------------------

namespace {

constexpr std::size_t kBlock = 1 << 20;

[[noreturn]] void Fail(const fs::path& path, std::string_view what, int error) {
  throw CorpusError(path.string() + ": " + std::string(what) + ": " + std::strerror(error));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

void WriteFully(int fd, const char* data, std::size_t n, const fs::path& path) {
  // Every round either writes at least one byte or fails.
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) Fail(path, "cannot write", w < 0 ? errno : EIO);
    data += w;
    n -= static_cast<std::size_t>(w);
  }
}

// Writes `size` bytes of the given kind from offset 0 in blocks, sets the time
// and closes, reporting a failed close (delayed write errors show there).
void FillFile(Fd& fd, const fs::path& path, std::uint64_t size, ContentKind kind, std::uint64_t seed,
              const Vocabulary& vocabulary, std::int64_t mtime, std::vector<char>& buffer) {
  TextStream text(vocabulary, seed);
  RandomStream random(seed);
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kBlock));
    if (kind == ContentKind::kText) {
      text.Fill(buffer.data(), n);
    } else {
      random.Fill(buffer.data(), n);
    }
    WriteFully(fd.get(), buffer.data(), n, path);
    left -= n;
  }
  const timespec times[2] = {{mtime, 0}, {mtime, 0}};
  if (::futimens(fd.get(), times) != 0) Fail(path, "cannot set the time", errno);
  if (::close(fd.Release()) != 0) Fail(path, "cannot write", errno);
}

void SetTime(const fs::path& path, std::int64_t mtime) {
  const timespec times[2] = {{mtime, 0}, {mtime, 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) Fail(path, "cannot set the time", errno);
}

unsigned ThreadCount(const WriteOptions& options, std::size_t jobs) {
  unsigned n = options.threads != 0 ? options.threads : std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  return static_cast<unsigned>(std::clamp<std::size_t>(jobs, 1, n));
}

// Runs job(i, buffer) for every i in [0, count) on a few threads, each with
// its own block buffer; the first failure stops the rest and is rethrown.
template <typename Job>
void ForEachParallel(std::size_t count, const WriteOptions& options, const Job& job) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex error_mutex;
  auto worker = [&] {
    std::vector<char> buffer(kBlock);
    for (std::size_t i = next++; i < count && !failed; i = next++) {
      try {
        job(i, buffer);
      } catch (...) {
        std::lock_guard lock(error_mutex);
        if (!error) error = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> threads;
  const unsigned n = ThreadCount(options, count);
  for (unsigned t = 1; t < n; ++t) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace

void WriteTree(const Plan& plan, const fs::path& root, const WriteOptions& options) {
  std::error_code ec;
  const auto status = fs::symlink_status(root, ec);
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) throw NotEmptyError(root.string() + ": exists and is not a folder");
    if (!fs::is_empty(root, ec) || ec) throw NotEmptyError(root.string() + ": folder is not empty");
  } else if (!fs::create_directories(root, ec) && ec) {
    throw CorpusError(root.string() + ": cannot create: " + ec.message());
  }
  for (const auto& folder : plan.folders) {
    const fs::path path = root / folder.path;
    if (::mkdir(path.c_str(), 0755) != 0) Fail(path, "cannot create", errno);
  }
  const Vocabulary vocabulary(plan.vocabulary_seed);
  ForEachParallel(plan.files.size(), options, [&](std::size_t i, std::vector<char>& buffer) {
    const PlannedFile& f = plan.files[i];
    const fs::path path = root / f.path;
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.get() < 0) Fail(path, "cannot create", errno);
    FillFile(fd, path, f.size, f.kind, f.content_seed, vocabulary, f.mtime, buffer);
  });
  // Folder times last: creating the entries inside moved them.
  for (const auto& folder : plan.folders) SetTime(root / folder.path, folder.mtime);
  SetTime(root, plan.root_mtime);
}

std::vector<std::string> TouchTree(const fs::path& root, double fraction, std::uint64_t seed,
                                   const WriteOptions& options) {
  if (!(fraction >= 0.0 && fraction <= 1.0)) throw CorpusError("the fraction to touch must lie between 0 and 1");
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(root, ec))) throw CorpusError(root.string() + ": not a folder");

  // Sorted so that the choice does not depend on the order the folder
  // listing happens to give.
  std::vector<std::string> files;
  fs::recursive_directory_iterator it(root, ec);
  if (ec) throw CorpusError(root.string() + ": cannot list: " + ec.message());
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) throw CorpusError(root.string() + ": cannot list: " + ec.message());
    if (fs::is_regular_file(it->symlink_status(ec))) files.push_back(it->path().lexically_relative(root).generic_string());
  }
  if (ec) throw CorpusError(root.string() + ": cannot list: " + ec.message());
  std::sort(files.begin(), files.end());

  const auto count = std::min<std::size_t>(files.size(), static_cast<std::size_t>(std::llround(fraction * static_cast<double>(files.size()))));
  Rng pick(Derive(seed, Stream::kTouchPick, 0));
  for (std::size_t i = 0; i < count; ++i) std::swap(files[i], files[i + pick.Below(files.size() - i)]);
  files.resize(count);
  std::sort(files.begin(), files.end());

  const Vocabulary vocabulary(Derive(seed, Stream::kVocabulary, 0));
  ForEachParallel(files.size(), options, [&](std::size_t i, std::vector<char>& buffer) {
    const fs::path path = root / files[i];
    const std::uint64_t key = Fnv1a(files[i]);
    Fd fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) Fail(path, "cannot open", errno);
    struct stat old{};
    if (::fstat(fd.get(), &old) != 0) Fail(path, "cannot read", errno);
    Rng time(Derive(seed, Stream::kTouchTime, key));
    const std::int64_t mtime = std::max<std::int64_t>(old.st_mtim.tv_sec, kBaseTime) + 1 + static_cast<std::int64_t>(time.Below(kTouchSpan));
    FillFile(fd, path, static_cast<std::uint64_t>(old.st_size), KindForName(path.filename().string()),
             Derive(seed, Stream::kTouchContent, key), vocabulary, mtime, buffer);
  });
  return files;
}

TreeStats ScanTree(const fs::path& root) {
  TreeStats stats;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, ec);
  if (ec) throw CorpusError(root.string() + ": cannot list: " + ec.message());
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) throw CorpusError(root.string() + ": cannot list: " + ec.message());
    const auto status = it->symlink_status(ec);
    if (fs::is_directory(status)) {
      ++stats.folders;
    } else if (fs::is_regular_file(status)) {
      ++stats.files;
      stats.bytes += it->file_size(ec);
    }
  }
  if (ec) throw CorpusError(root.string() + ": cannot list: " + ec.message());
  return stats;
}

// ---- command line -----------------------------------------------------------

namespace {

constexpr std::string_view kUsage =
    "usage: corpus_gen --preset small|large|mixed --seed N --out DIR [--stats]\n"
    "       corpus_gen --touch FRACTION --seed N --out DIR [--stats]\n"
    "       corpus_gen --stats --out DIR\n"
    "Writes a benchmark tree that depends only on the preset and the seed into\n"
    "DIR, which must be new or empty; or rewrites FRACTION (0 to 1) of the files\n"
    "of an existing tree with new content and later times; --stats prints the\n"
    "files, folders and bytes DIR then holds.\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::uint64_t ParseSeed(const std::string& text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty())
    throw UsageError("--seed wants a whole number from 0 to 18446744073709551615, not '" + text + "'");
  return value;
}

double ParseFraction(const std::string& text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || !(value >= 0.0 && value <= 1.0))
    throw UsageError("--touch wants a fraction from 0 to 1, not '" + text + "'");
  return value;
}

}  // namespace

int RunCorpusCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    std::optional<std::string> preset, seed, dir, touch;
    bool stats = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      std::string name = args[i];
      std::optional<std::string> inline_value;
      if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
        inline_value = name.substr(eq + 1);
        name.resize(eq);
      }
      if (name == "--help" || name == "-h") {
        out << kUsage;
        return 0;
      }
      if (name == "--stats" && !inline_value) {
        stats = true;
        continue;
      }
      std::optional<std::string>* slot = name == "--preset" ? &preset
                                         : name == "--seed" ? &seed
                                         : name == "--out"  ? &dir
                                         : name == "--touch" ? &touch
                                                             : nullptr;
      if (slot == nullptr) throw UsageError("unknown argument '" + args[i] + "'");
      if (*slot) throw UsageError(name + " given twice");
      if (inline_value) {
        *slot = *inline_value;
      } else if (i + 1 < args.size()) {
        *slot = args[++i];
      } else {
        throw UsageError(name + " wants a value");
      }
    }
    if (!dir || dir->empty()) throw UsageError("--out DIR is required");
    if (preset && touch) throw UsageError("--preset and --touch exclude each other: generate first, then touch");
    if ((preset || touch) && !seed) throw UsageError("--seed is required");
    if (seed && !preset && !touch) throw UsageError("--seed needs --preset or --touch");
    if (!preset && !touch && !stats) throw UsageError("nothing to do: give --preset, --touch or --stats");

    if (preset) {
      const auto p = PresetFromName(*preset);
      if (!p) throw UsageError("unknown preset '" + *preset + "' (small, large or mixed)");
      const std::uint64_t s = ParseSeed(*seed);
      try {
        WriteTree(MakePlan(*p, s), *dir);
      } catch (const NotEmptyError& e) {
        err << "corpus_gen: " << e.what() << "; nothing was written (give a new or empty folder, or --touch to modify an existing tree)\n";
        return 1;
      }
    } else if (touch) {
      const double fraction = ParseFraction(*touch);
      const auto touched = TouchTree(*dir, fraction, ParseSeed(*seed));
      if (stats) out << "touched " << touched.size() << "\n";
    }
    if (stats) {
      const TreeStats s = ScanTree(*dir);
      out << "files " << s.files << "\nfolders " << s.folders << "\nbytes " << s.bytes << "\n";
    }
    return 0;
  } catch (const UsageError& e) {
    err << "corpus_gen: " << e.what() << "\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    err << "corpus_gen: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace corvane::bench
