#pragma once

#include "LabProcess.h"

#include <string>

namespace kv::test {

// The project's release server (studio/release_server.py) serving a folder on 127.0.0.1
// for as long as this object lives; over HTTPS when given a certificate and its key.
class ReleaseServer {
public:
    explicit ReleaseServer(const std::string& root, const std::string& certificate = {},
                           const std::string& key = {});
    ReleaseServer(const ReleaseServer&) = delete;
    ReleaseServer& operator=(const ReleaseServer&) = delete;

    // The server's base URL followed by a path and query, such as "/echo?status=401".
    std::string url(const std::string& pathAndQuery) const { return base_ + pathAndQuery; }
    int port() const { return port_; }

private:
    LabProcess process_;
    int port_ = 0;
    std::string base_;
};

} // namespace kv::test
