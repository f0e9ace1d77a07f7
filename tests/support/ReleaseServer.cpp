#include "ReleaseServer.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace kv::test {

// The server prints its port as its first line, once it accepts connections.
ReleaseServer::ReleaseServer(const std::string& root, const std::string& certificate,
                             const std::string& key)
    : process_(certificate.empty() ? std::vector<std::string>{"python3", KV_RELEASE_SERVER_SCRIPT,
                                                              "--root", root, "--exit-with-stdin"}
                                   : std::vector<std::string>{"python3", KV_RELEASE_SERVER_SCRIPT,
                                                              "--root", root, "--exit-with-stdin",
                                                              "--cert", certificate, "--key", key}),
      port_(std::atoi(process_.firstLine().c_str())),
      base_((certificate.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") +
            std::to_string(port_)) {
    if (port_ <= 0) {
        throw std::runtime_error("release server did not start: '" + process_.firstLine() + "'");
    }
}

} // namespace kv::test
