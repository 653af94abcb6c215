// Network shares, written "//computer/share/rest", reached where the
// desktop mounts them, and the probe that tells a run whether one answers.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::platform {

struct Paths;

// The name of this computer as the system reports it (gethostname).
std::string ComputerName();

// Where shares are mounted, and how the mount folders are named.
struct NetworkRoot {
  std::filesystem::path path;
  // true: GVFS, "smb-share:server=computer,share=share" folders (possibly
  // with more keys such as user= or domain=); false: root/computer/share.
  bool gvfs = false;
};
NetworkRoot NetworkRootOf(const Paths& paths);
// CORVANE3_NETWORK_ROOT when set, else $XDG_RUNTIME_DIR/gvfs.
NetworkRoot NetworkRootFromEnvironment();

struct NetworkPath {
  std::string computer;
  std::string share;  // never empty
  std::string rest;   // what follows "share/", as written (may be empty)
};
// Splits a network path. Refuses text that is not one, a path with no
// share, "." or ".." as computer or share, and a rest whose ".." would climb
// out of the share.
std::optional<NetworkPath> SplitNetworkPath(std::string_view path);

// True for a network path naming another computer than `computer_name`.
// The computer is compared whole and with its letter case.
bool IsRemotePath(std::string_view path, std::string_view computer_name);

struct ResolvedPath {
  std::filesystem::path local;  // the place to read and write
  // The path names this computer: callers test it as a local folder (a
  // missing one is "path not found") instead of probing the network.
  bool local_computer = false;
};
// A path that is not a network path is returned as it is, as a local one.
// A network path goes to its share's mount under `root`, this computer's
// own shares included (a share of ours is reached where the desktop mounts
// it too).
// The mount is looked up without regard to letter case, as SMB names are;
// when none is there the path is where it would be mounted. nullopt for a
// text SplitNetworkPath refuses.
std::optional<ResolvedPath> ResolveNetworkPath(std::string_view path, const NetworkRoot& root,
                                               std::string_view computer_name);

// Result codes of ProbeNetworkPath.
inline constexpr int kNetOk = 0;
inline constexpr int kNetAccessDenied = 5;  // EACCES, EPERM
// ENOENT, ENOTDIR, host or network unreachable or down, connection refused
// or timed out, a FUSE mount whose daemon is gone, no mount, no mount root.
inline constexpr int kNetNotFound = 53;
// Any other failure is kNetErrnoBase + errno; a text that is not a usable
// network path answers kNetErrnoBase + EINVAL.
inline constexpr int kNetErrnoBase = 20000;

// Tells whether the folder part of a network path answers: the text up to
// its last "/" (the whole path when it ends with "/"), or the share itself
// when that would leave only the computer. The folder must exist and be
// readable and searchable.
int ProbeNetworkPath(std::string_view path, const NetworkRoot& root);

}  // namespace corvane::platform
