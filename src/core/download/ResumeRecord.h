#pragma once

#include <string>

namespace kv::portal {

// Beside an unfinished download: the release it was fetched for and the server's validator of
// its bytes, so that the next request for that same release can continue it.

// The validator recorded at the path for the release, or empty when none fits.
std::string readResumeValidator(const std::string& path, const std::string& release);
bool writeResumeRecord(const std::string& path, const std::string& release,
                       const std::string& validator);

} // namespace kv::portal
