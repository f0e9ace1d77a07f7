#include "ReleaseServer.h"
#include "TempDir.h"
#include "kvcurl/kvcurl.h"

#include <gtest/gtest.h>

namespace {

using kv::test::ReleaseServer;
using kv::test::TempDir;

// The server holds a stalled connection until the client gives up (or for 10 minutes), far
// longer than the 1 s this test program allows.
class KvcurlTimeout : public ::testing::Test {
protected:
    void SetUp() override {
        kv::test::writeFile(root.file("firmware.img"), std::string(4096, 'f'));
    }

    TempDir root;
    ReleaseServer server{root.path()};
};

constexpr int32_t kTimedOut = 28;

TEST_F(KvcurlTimeout, GetGivesUpOnAServerThatNeverAnswers) {
    const auto reply = kvcurl::get(server.url("/dozoPublishConf.json?stall=headers"));

    EXPECT_EQ(reply->code, 0);
    EXPECT_EQ(reply->error, kvcurl::errorText(kTimedOut));
}

TEST_F(KvcurlTimeout, PostGivesUpOnABodyThatStalls) {
    const auto reply = kvcurl::post(server.url("/firmware.img?stall=body"), nullptr, 0, nullptr, 0);

    EXPECT_EQ(reply->code, 0);
    EXPECT_EQ(reply->error, kvcurl::errorText(kTimedOut));
}

TEST_F(KvcurlTimeout, DownloadAndFetchGiveUpWhenTheTransferStalls) {
    EXPECT_EQ(kvcurl::download(server.url("/firmware.img?stall=body"), root.file("copy.img"), {}),
              kTimedOut);

    std::string text;
    EXPECT_EQ(kvcurl::fetch(server.url("/agreement.txt?stall=headers"), text, {}), kTimedOut);
}

// Fast enough never to count as stalled, too slow to end within the total time-out.
TEST_F(KvcurlTimeout, FetchGivesUpOnATextThatKeepsTrickling) {
    kv::test::writeFile(root.file("agreement.txt"), "I agree.");
    std::string text;

    EXPECT_EQ(kvcurl::fetch(server.url("/agreement.txt?rate=4"), text, {}), kTimedOut);
}

} // namespace
