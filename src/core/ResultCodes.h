#pragma once

#include <cstdint>

namespace kv::portal::result {

// The codes a job ends with; a product keeps them as its plain integer `errorCode`.
constexpr int32_t kSuccess = 0;

// The program's own.
constexpr int32_t kNoRelease = -1;
constexpr int32_t kRefused = -1;
constexpr int32_t kDeviceReportedFailure = -1;
constexpr int32_t kDeviceReportedNothing = -2;
constexpr int32_t kUnverified = -11;
// A firmware update the device took and rebooted for, yet it came back with its old version.
constexpr int32_t kUpdateNotTaken = -3;
// A firmware update whose device did not come back from its reboot.
constexpr int32_t kDeviceNotBack = -4;

// libcurl's, for transfers.
constexpr int32_t kWriteError = 23;
constexpr int32_t kAbortedByCallback = 42;

// Installer exit codes (Windows Installer's published values).
constexpr int32_t kInstallerCancelled = 1602;
// The installer has started a restart of the computer.
constexpr int32_t kInstallerRestarting = 1641;
constexpr int32_t kInstallerNeedsRestart = 3010;

} // namespace kv::portal::result
