#pragma once

#include <chrono>

namespace kv::portal {

// How long the program waits on a device beyond its requests' own time-outs: `normal`, or the
// seconds that KVPORTAL_HTTP_TIMEOUT names.
std::chrono::seconds deviceWait(std::chrono::seconds normal);

} // namespace kv::portal
