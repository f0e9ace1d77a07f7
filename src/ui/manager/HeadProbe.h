#pragma once

#include <string>

namespace kv::portal {

// Whether a device's web server answers a HEAD request at its address within two seconds.
// Any HTTP status counts as an answer.
bool deviceAnswers(const std::string& address);

} // namespace kv::portal
