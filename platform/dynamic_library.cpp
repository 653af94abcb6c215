#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <algorithm>

#include "platform/files.h"

namespace corvane::platform {

std::optional<DynamicLibrary> DynamicLibrary::Load(const std::filesystem::path& file, std::string* error) {
  std::string name = file.string();
  // Without a slash dlopen would search LD_LIBRARY_PATH and the system's
  // folders, and could load a system library of the same name.
  if (name.find('/') == std::string::npos) name = "./" + name;
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) {
      const char* msg = ::dlerror();
      *error = msg ? msg : "cannot load " + name;
    }
    return std::nullopt;
  }
  return DynamicLibrary(handle, file);
}

DynamicLibrary::~DynamicLibrary() { Unload(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(other.handle_), file_(std::move(other.file_)) {
  other.handle_ = nullptr;
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = other.handle_;
    file_ = std::move(other.file_);
    other.handle_ = nullptr;
  }
  return *this;
}

void DynamicLibrary::Unload() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const std::string& name) const {
  if (!handle_) return nullptr;
  ::dlerror();  // a stale message must not be taken for this lookup's
  return ::dlsym(handle_, name.c_str());
}

std::vector<std::filesystem::path> ListLibraries(const std::filesystem::path& folder) {
  std::vector<DirEntry> entries;
  std::vector<std::filesystem::path> libraries;
  if (!ListDirectory(folder, entries)) return libraries;
  for (const auto& e : entries) {
    const std::string& n = e.name;
    // Only plain files: opening a FIFO would block the loader.
    if (!e.is_regular || n.size() <= 3 || n.compare(n.size() - 3, 3, ".so") != 0) continue;
    libraries.push_back(folder / n);
  }
  return libraries;
}

}  // namespace corvane::platform
