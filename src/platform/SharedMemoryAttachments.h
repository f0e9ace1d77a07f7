#pragma once

#include <string>

namespace kv::platform {

// How many processes are attached right now to the shared-memory block that Qt keeps under
// this native key, or -1 when that cannot be told. The system keeps this number itself, so
// it stays right when an attached process is killed, unlike any count kept inside the block.
int sharedMemoryAttachments(const std::string& nativeKey);

} // namespace kv::platform
