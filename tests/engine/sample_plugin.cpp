// A sample expert plug-in, built several times with different signatures
// and extensions (SAMPLE_SIGNATURE, SAMPLE_EXTENSION). Entree writes
// "<path>.<extension>" holding "[extension]" followed by the source's bytes,
// except for sources whose name holds "phantom", for which it answers the
// extension without writing anything, and "nothing", for which it answers
// an empty text. Built without SAMPLE_SIGNATURE it lacks "Signature".
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {

#ifdef SAMPLE_SIGNATURE
__attribute__((visibility("default"))) const char* Signature() { return SAMPLE_SIGNATURE; }
#endif

__attribute__((visibility("default"))) const char* Entree(const char* path) {
  if (!path) return "";
  const std::string source = path;
  const std::string base = source.substr(source.rfind('/') + 1);
  if (base.find("nothing") != std::string::npos) return "";
  if (base.find("phantom") != std::string::npos) return SAMPLE_EXTENSION;
  std::FILE* in = std::fopen(path, "rb");
  if (!in) return "";
  const std::string target = source + "." + SAMPLE_EXTENSION;
  std::FILE* out = std::fopen(target.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return "";
  }
  std::fputs("[" SAMPLE_EXTENSION "]", out);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) std::fwrite(buf, 1, n, out);
  std::fclose(in);
  std::fclose(out);
  return SAMPLE_EXTENSION;
}

__attribute__((visibility("default"))) void Init() {}

}
