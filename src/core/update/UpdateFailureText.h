#pragma once

#include <cstdint>
#include <string>

namespace kv::portal {

// Why an update attempt failed, from the error code its history entry keeps, with the code.
std::string updateFailureText(int32_t errorCode, bool firmware);

} // namespace kv::portal
