#include "ReleaseServer.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "TestCa.h"
#include "kvcurl/kvcurl.h"

#include <gtest/gtest.h>

// Without a bundle the system's authorities decide, and none of them signed the server's.
TEST(KvcurlTls, PeerIsVerifiedAgainstTheNamedBundleOnly) {
    kv::test::TempDir root;
    kv::test::TempDir otherRoot;
    const kv::test::TestCa ca{root.path()};
    const kv::test::TestCa other{otherRoot.path()};
    kv::test::ReleaseServer server{root.path(), ca.serverCertificate, ca.serverKey};
    kv::test::writeFile(root.file("dozoPublishConf.json"), "{\"products\":[]}");
    const std::string url = server.url("/dozoPublishConf.json");
    for (const char* bundle :
         {ca.caFile.c_str(), other.caFile.c_str(), static_cast<const char*>(nullptr)}) {
        const bool trusted = bundle == ca.caFile.c_str();
        const kv::test::ScopedEnv chosen("KVPORTAL_CA_BUNDLE", bundle);
        const auto reply = kvcurl::get(url);
        EXPECT_EQ(reply->code, trusted ? 200 : 0);
        EXPECT_EQ(reply->error, trusted ? "" : kvcurl::errorText(60));
        EXPECT_EQ(reply->body, trusted ? "{\"products\":[]}" : "");
        std::string text;
        EXPECT_EQ(kvcurl::fetch(url, text, {}), trusted ? 0 : 60);
        EXPECT_EQ(kvcurl::download(url, root.file("copy.json"), {}), trusted ? 0 : 60);
        EXPECT_EQ(kv::test::readFile(root.file("copy.json")), text);
    }
}
