#include "ReleaseServer.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace kv::test {
namespace {

std::vector<std::string> serverCommand(const std::string& root, const std::string& certificate,
                                       const std::string& key) {
    std::vector<std::string> command = {"python3", KV_RELEASE_SERVER_SCRIPT, "--root", root,
                                        "--exit-with-stdin"};
    if (!certificate.empty()) {
        command.insert(command.end(), {"--cert", certificate, "--key", key});
    }
    return command;
}

} // namespace

// The server prints its port as its first line, once it accepts connections.
ReleaseServer::ReleaseServer(const std::string& root, const std::string& certificate,
                             const std::string& key)
    : process_(serverCommand(root, certificate, key)),
      port_(std::atoi(process_.firstLine().c_str())) {
    if (port_ <= 0) {
        throw std::runtime_error("release server did not start: '" + process_.firstLine() + "'");
    }
    base_ =
        (certificate.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(port_);
}

} // namespace kv::test
