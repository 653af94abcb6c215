// Plug-in libraries: loaded by file name, looked up by export name, and
// unloaded when the object goes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvane::platform {

class DynamicLibrary {
 public:
  // Loads with every symbol resolved at once and none shared with later
  // loads (RTLD_NOW | RTLD_LOCAL). A bare file name is taken in the current
  // folder, never searched for in the system's library path. nullopt on
  // failure, with the loader's message in `error` when given.
  static std::optional<DynamicLibrary> Load(const std::filesystem::path& file, std::string* error = nullptr);

  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of an export; null when the library has none of that name.
  void* Symbol(const std::string& name) const;
  // The same as a function pointer, e.g. Function<const char*()>("Signature").
  template <class Signature>
  Signature* Function(const std::string& name) const {
    return reinterpret_cast<Signature*>(Symbol(name));
  }

  const std::filesystem::path& file() const { return file_; }

 private:
  DynamicLibrary(void* handle, std::filesystem::path file) : handle_(handle), file_(std::move(file)) {}
  void Unload();

  void* handle_ = nullptr;
  std::filesystem::path file_;
};

// The regular files (or links to them) named "*.so" in a folder, full
// paths, sorted by name in byte order; empty when the folder cannot be read.
std::vector<std::filesystem::path> ListLibraries(const std::filesystem::path& folder);

}  // namespace corvane::platform
