#include "ReleaseServer.h"
#include "TempDir.h"
#include "TestCa.h"
#include "kvcurl/kvcurl.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using kv::test::ReleaseServer;
using kv::test::TempDir;

class KvcurlTls : public ::testing::Test {
protected:
    void TearDown() override { ::unsetenv("KVPORTAL_CA_BUNDLE"); }

    TempDir root;
    TempDir certificates;
    kv::test::TestCa ca{certificates.path()};
    ReleaseServer server{root.path(), ca.serverCertificate, ca.serverKey};
};

TEST_F(KvcurlTls, PeerIsVerifiedAgainstTheNamedBundle) {
    kv::test::writeFile(root.file("dozoPublishConf.json"), "{\"products\":[]}");
    ::setenv("KVPORTAL_CA_BUNDLE", ca.caFile.c_str(), 1);

    const auto reply = kvcurl::get(server.url("/dozoPublishConf.json"));
    EXPECT_EQ(reply->code, 200);
    EXPECT_EQ(reply->error, "");
    EXPECT_EQ(reply->body, "{\"products\":[]}");

    std::string text;
    EXPECT_EQ(kvcurl::fetch(server.url("/dozoPublishConf.json"), text, {}), 0);
    EXPECT_EQ(
        kvcurl::download(server.url("/dozoPublishConf.json"), certificates.file("copy.json"), {}),
        0);
    EXPECT_EQ(kv::test::readFile(certificates.file("copy.json")), "{\"products\":[]}");
}

// Without a bundle the system's authorities decide, and none of them signed the server's.
TEST_F(KvcurlTls, UnknownAuthorityIsRefused) {
    TempDir otherFolder;
    const kv::test::TestCa other(otherFolder.path());
    for (const char* bundle : {static_cast<const char*>(nullptr), other.caFile.c_str()}) {
        bundle ? ::setenv("KVPORTAL_CA_BUNDLE", bundle, 1) : ::unsetenv("KVPORTAL_CA_BUNDLE");
        const auto reply = kvcurl::get(server.url("/dozoPublishConf.json"));
        EXPECT_EQ(reply->code, 0);
        EXPECT_EQ(reply->error, kvcurl::errorText(60));
        std::string text;
        EXPECT_EQ(kvcurl::fetch(server.url("/dozoPublishConf.json"), text, {}), 60);
    }
}

} // namespace
