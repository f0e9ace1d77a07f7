#pragma once

namespace kv::platform {

// Whether this program installs its own releases from the catalogue. Not on Linux: the
// catalogue's KVPortal package is a Windows installer, and a newer Debian package replaces the
// program through the package manager.
constexpr bool kInstallsOwnReleases = false;

} // namespace kv::platform
