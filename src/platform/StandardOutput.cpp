#include "platform/StandardOutput.h"

#include <unistd.h>

#include <cstdio>

namespace kv::platform {

FilePtr reserveStandardOutput() {
    std::fflush(stdout);
    const int kept = ::dup(STDOUT_FILENO);
    if (kept < 0) {
        return nullptr;
    }
    FilePtr stream(::fdopen(kept, "w"));
    if (!stream) {
        ::close(kept);
        return nullptr;
    }
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return nullptr;
    }
    return stream;
}

} // namespace kv::platform
