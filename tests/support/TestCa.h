#pragma once

#include <string>

namespace kv::test {

// A certificate authority of the test's own, made with openssl in a folder, and a server
// certificate it signed for 127.0.0.1.
struct TestCa {
    explicit TestCa(const std::string& folder);

    std::string caFile;
    std::string serverCertificate;
    std::string serverKey;
};

} // namespace kv::test
