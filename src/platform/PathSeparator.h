#pragma once

namespace kv::platform {

// Joins the parts of every path the program builds.
inline constexpr char kPathSeparator[] = "/";

} // namespace kv::platform
